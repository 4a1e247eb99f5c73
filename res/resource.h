// Resource ids for the resource compiler, which cannot read C++; app/dialog_ids.h holds the same numbers
// and the Windows build checks that they agree.
#pragma once

#define IDR_MAIN_DIALOG                  102
#define IDR_PROGRESS_DIALOG              133
#define IDR_ICON                         128
#define IDR_SPLASH_BITMAP                138
#define IDR_OPEN_FILE                    1001
#define IDR_REMOVE                       1002
#define IDR_RESET                        1003
#define IDR_UPLOAD                       1004
#define IDR_LOGO_LIST                    1005
#define IDR_SAVE                         1006
#define IDR_THRESHOLD                    1007
#define IDR_ERROR_DIFFUSION              1008
#define IDR_INDEXED_ORDER                1009
#define IDR_BRIGHTNESS                   1010
#define IDR_RANGE_ALL                    1011
#define IDR_RANGE_SELECTION              1012
#define IDR_QUALITY_SINGLE               1013
#define IDR_QUALITY_DOUBLE_WIDE          1014
#define IDR_QUALITY_DOUBLE_HIGH          1015
#define IDR_QUALITY_DOUBLE               1016
#define IDR_OPEN_FILE_AND_DOWNLOAD       1017
#define IDR_PRINTER_DRIVER               1022
#define IDR_PORT                         1023
#define IDR_SAVE_FORMAT                  1024
#define IDR_BIT_LENGTH                   1025
#define IDR_PARITY                       1026
#define IDR_STOP_BIT                     1027
#define IDR_HANDSHAKE                    1028
#define IDR_BAUD_RATE                    1029
#define IDR_SELECTION_NUMBER             1030
#define IDR_ERASE                        1031
#define IDR_PRINTOUT                     1032
#define IDR_EXIT                         1033
#define IDR_TCP_PORT                     1034
#define IDR_FILE_COUNT                   1035
#define IDR_SIZE_TOTAL                   1036
#define IDR_IMAGE_WIDTH                  1037
#define IDR_IMAGE_HEIGHT                 1038
#define IDR_PROGRESS_BAR                 1039
#define IDR_SOURCE_FRAME                 1040
#define IDR_CONVERTED_FRAME              1041
#define IDR_USE_DRIVER                   1043
#define IDR_IP_ADDRESS                   1044
