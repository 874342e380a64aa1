// Every fixed text of the library, byte for byte as callers, the log file,
// the settings and message boxes receive it: 8-bit ANSI in code page 936 (GBK).
// Each literal has its readable form in the comment above it.
#pragma once

namespace kvd::text {

// The application name: the library's module name without its extension. It
// names the settings key and captions the framework-style message boxes.
inline constexpr char kApplicationName[] = "KVD4093";

// The registry key all settings live under (HKEY_CURRENT_USER\Software\Olm\<application>).
inline constexpr char kRegistryKey[] = "Olm";

// The values the parameter store writes in the settings' root, and the
// installation folder it answers when none is stored.
inline constexpr char kCompanyName[] = "Olmvarde";
inline constexpr char kCardType[] = "KVD4093";
inline constexpr char kDefaultAppPath[] = "C:\\OLM\\KVD4093";

// Settings sections, formatted with a card's number: the numbers of the card
// saved last (with 0), a card's AD parameters (with its physical ID), a
// card's free values (with its logical number).
inline constexpr char kDeviceSectionFormat[] = "Device-%d";
inline constexpr char kAdParaSectionFormat[] = "Device-%d\\ADPara";
inline constexpr char kOthersSectionFormat[] = "Device-%d\\Others";

// The file the error log is written to at unload, in the current directory.
inline constexpr char kErrorLogFileName[] = "KVD4093Err.log";

// "设备句柄hDevice无效"
inline constexpr char kDeviceHandleInvalid[] = "\xc9\xe8\xb1\xb8\xbe\xe4\xb1\xfahDevice\xce\xde\xd0\xa7";

// "置量程失败"
inline constexpr char kSetRangeFailed[] = "\xd6\xc3\xc1\xbf\xb3\xcc\xca\xa7\xb0\xdc";

// "置硬件参数失败"
inline constexpr char kSetHardwareParamsFailed[] = "\xd6\xc3\xd3\xb2\xbc\xfe\xb2\xce\xca\xfd\xca\xa7\xb0\xdc";

// "启动AD失败"
inline constexpr char kStartAdFailed[] = "\xc6\xf4\xb6\xaf" "AD\xca\xa7\xb0\xdc";

// "初始化读失败"
inline constexpr char kInitialReadFailed[] = "\xb3\xf5\xca\xbc\xbb\xaf\xb6\xc1\xca\xa7\xb0\xdc";

// "读AD数据失败"
inline constexpr char kReadAdFailed[] = "\xb6\xc1" "AD\xca\xfd\xbe\xdd\xca\xa7\xb0\xdc";

// "Sorry, there are no device drivers found in your system"
inline constexpr char kNoDeviceDriver[] = "Sorry, there are no device drivers found in your system";

// "USB设备无效，请重新复位Windows系统"
inline constexpr char kUsbDeviceInvalid[] = "USB\xc9\xe8\xb1\xb8\xce\xde\xd0\xa7\xa3\xac\xc7\xeb\xd6\xd8\xd0\xc2\xb8\xb4\xce\xbbWindows\xcf\xb5\xcd\xb3";

// "物理ID号=%d的设备不存在"
inline constexpr char kPhysicalIdMissingFormat[] = "\xce\xef\xc0\xedID\xba\xc5=%d\xb5\xc4\xc9\xe8\xb1\xb8\xb2\xbb\xb4\xe6\xd4\xda";

// "文件名不能为空"
inline constexpr char kFileNameEmpty[] = "\xce\xc4\xbc\xfe\xc3\xfb\xb2\xbb\xc4\xdc\xce\xaa\xbf\xd5";

// "文件句柄hFileObject无效"
inline constexpr char kFileHandleInvalid[] = "\xce\xc4\xbc\xfe\xbe\xe4\xb1\xfahFileObject\xce\xde\xd0\xa7";

// " 复位USB端口失败"
inline constexpr char kUsbResetFailed[] = " \xb8\xb4\xce\xbbUSB\xb6\xcb\xbf\xda\xca\xa7\xb0\xdc";

// "在您的系统中共有 %d 个 KVD4093 设备,\r\n"
inline constexpr char kListCountFormat[] = "\xd4\xda\xc4\xfa\xb5\xc4\xcf\xb5\xcd\xb3\xd6\xd0\xb9\xb2\xd3\xd0 %d \xb8\xf6 KVD4093 \xc9\xe8\xb1\xb8,\r\n";

// "现列表已有设备的物理号和逻辑号:\r\n\r\n"
inline constexpr char kListHeading[] = "\xcf\xd6\xc1\xd0\xb1\xed\xd2\xd1\xd3\xd0\xc9\xe8\xb1\xb8\xb5\xc4\xce\xef\xc0\xed\xba\xc5\xba\xcd\xc2\xdf\xbc\xad\xba\xc5:\r\n\r\n";

// "物理ID号(Hex) = %x\r\n逻辑ID号(Hex) = %x\r\n"
inline constexpr char kListCardFormat[] = "\xce\xef\xc0\xedID\xba\xc5(Hex) = %x\r\n\xc2\xdf\xbc\xadID\xba\xc5(Hex) = %x\r\n";

// "说明：\r\n逻辑ID号指的是您插入某个设备的顺序号\r\n"
inline constexpr char kListNoteLogical[] = "\xcb\xb5\xc3\xf7\xa3\xba\r\n\xc2\xdf\xbc\xadID\xba\xc5\xd6\xb8\xb5\xc4\xca\xc7\xc4\xfa\xb2\xe5\xc8\xeb\xc4\xb3\xb8\xf6\xc9\xe8\xb1\xb8\xb5\xc4\xcb\xb3\xd0\xf2\xba\xc5\r\n";

// "而物理ID号是您在某个设备上设置的硬件标识号,\r\n"
inline constexpr char kListNotePhysical[] = "\xb6\xf8\xce\xef\xc0\xedID\xba\xc5\xca\xc7\xc4\xfa\xd4\xda\xc4\xb3\xb8\xf6\xc9\xe8\xb1\xb8\xc9\xcf\xc9\xe8\xd6\xc3\xb5\xc4\xd3\xb2\xbc\xfe\xb1\xea\xca\xb6\xba\xc5,\r\n";

// "此物理ID号不能相重，如果您的设备数量超过%d个,\r\n"
inline constexpr char kListNoteUniqueFormat[] = "\xb4\xcb\xce\xef\xc0\xedID\xba\xc5\xb2\xbb\xc4\xdc\xcf\xe0\xd6\xd8\xa3\xac\xc8\xe7\xb9\xfb\xc4\xfa\xb5\xc4\xc9\xe8\xb1\xb8\xca\xfd\xc1\xbf\xb3\xac\xb9\xfd%d\xb8\xf6,\r\n";

// "请您使用逻辑ID号"
inline constexpr char kListNoteUseLogical[] = "\xc7\xeb\xc4\xfa\xca\xb9\xd3\xc3\xc2\xdf\xbc\xadID\xba\xc5";

// "设备列表"
inline constexpr char kListCaption[] = "\xc9\xe8\xb1\xb8\xc1\xd0\xb1\xed";

// "对不起,新线程创建失败..."
inline constexpr char kThreadCreateFailed[] = "\xb6\xd4\xb2\xbb\xc6\xf0,\xd0\xc2\xcf\xdf\xb3\xcc\xb4\xb4\xbd\xa8\xca\xa7\xb0\xdc...";

// "提醒您"
inline constexpr char kThreadCaption[] = "\xcc\xe1\xd0\xd1\xc4\xfa";

// "\Help\KVD4093S.Doc": the help document, below the installation folder
inline constexpr char kHelpDocumentSuffix[] = "\\Help\\KVD4093S.Doc";

// "this help Info Path not found..."
inline constexpr char kHelpPathNotFound[] = "this help Info Path not found...";

// "No error message"
inline constexpr char kNoErrorMessage[] = "No error message";

} // namespace kvd::text
