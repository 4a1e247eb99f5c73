#pragma once
// Every id of the program's windows and resources: one list for the resource script and the code, so it holds
// plain #define lines, the only kind of C++ the resource compiler understands. The numbers are fixed: programs
// outside the window (tests/gui) find its controls by them.

// Templates, the icon and the splash picture.
#define IDD_MAIN                     102
#define IDI_TESSERA                  128
#define IDD_PROGRESS                 133
#define IDB_SPLASH                   138

// Controls.
#define IDC_OPEN_FILE                1001
#define IDC_REMOVE                   1002
#define IDC_RESET                    1003
#define IDC_UPLOAD                   1004
#define IDC_LOGO_LIST                1005
#define IDC_SAVE                     1006
#define IDC_THRESHOLD                1007
#define IDC_ERROR_DIFFUSION          1008
#define IDC_INDEXED_ORDER            1009
#define IDC_BRIGHTNESS               1010
#define IDC_RANGE_ALL                1011
#define IDC_RANGE_SELECTION          1012
#define IDC_QUALITY_SINGLE           1013
#define IDC_QUALITY_DOUBLE_WIDE      1014
#define IDC_QUALITY_DOUBLE_HIGH      1015
#define IDC_QUALITY_DOUBLE           1016
#define IDC_OPEN_FILE_AND_DOWNLOAD   1017
#define IDC_PRINTER_DRIVER           1022
#define IDC_PORT                     1023
#define IDC_SAVE_FORMAT              1024
#define IDC_BIT_LENGTH               1025
#define IDC_PARITY                   1026
#define IDC_STOP_BIT                 1027
#define IDC_HANDSHAKE                1028
#define IDC_BAUD_RATE                1029
#define IDC_SELECTION_NUMBER         1030
#define IDC_ERASE                    1031
#define IDC_PRINTOUT                 1032
#define IDC_EXIT                     1033
#define IDC_TCP_PORT                 1034
#define IDC_FILE_COUNT               1035
#define IDC_SIZE_TOTAL               1036
#define IDC_IMAGE_WIDTH              1037
#define IDC_IMAGE_HEIGHT             1038
#define IDC_PROGRESS_BAR             1039
#define IDC_SOURCE_FRAME             1040
#define IDC_CONVERTED_FRAME          1041
#define IDC_USE_DRIVER               1043
#define IDC_IP_ADDRESS               1044
