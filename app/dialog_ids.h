#pragma once
// Resource ids of the main window, its progress window and their resources. The settings files and the
// Windows resource script both depend on these numbers.

namespace tessera::ids {

inline constexpr int kMainDialog = 102;
inline constexpr int kProgressDialog = 133;
inline constexpr int kIcon = 128;
inline constexpr int kSplashBitmap = 138;

inline constexpr int kOpenFile = 1001;
inline constexpr int kRemove = 1002;
inline constexpr int kReset = 1003;
inline constexpr int kUpload = 1004;
inline constexpr int kLogoList = 1005;
inline constexpr int kSave = 1006;
inline constexpr int kThreshold = 1007;
inline constexpr int kErrorDiffusion = 1008;
inline constexpr int kIndexedOrder = 1009;
inline constexpr int kBrightness = 1010;
inline constexpr int kRangeAll = 1011;
inline constexpr int kRangeSelection = 1012;
inline constexpr int kQualitySingle = 1013;
inline constexpr int kQualityDoubleWide = 1014;
inline constexpr int kQualityDoubleHigh = 1015;
inline constexpr int kQualityDouble = 1016;
inline constexpr int kOpenFileAndDownload = 1017;
inline constexpr int kPrinterDriver = 1022;
inline constexpr int kPort = 1023;
inline constexpr int kSaveFormat = 1024;
inline constexpr int kBitLength = 1025;
inline constexpr int kParity = 1026;
inline constexpr int kStopBit = 1027;
inline constexpr int kHandshake = 1028;
inline constexpr int kBaudRate = 1029;
inline constexpr int kSelectionNumber = 1030;
inline constexpr int kErase = 1031;
inline constexpr int kPrintout = 1032;
inline constexpr int kExit = 1033;
inline constexpr int kTcpPort = 1034;
inline constexpr int kFileCount = 1035;
inline constexpr int kSizeTotal = 1036;
inline constexpr int kImageWidth = 1037;
inline constexpr int kImageHeight = 1038;
inline constexpr int kProgressBar = 1039;
inline constexpr int kSourceFrame = 1040;
inline constexpr int kConvertedFrame = 1041;
inline constexpr int kUseDriver = 1043;
inline constexpr int kIpAddress = 1044;

} // namespace tessera::ids
