#pragma once

#include <string>

// Ids of the update program's own texts (German and English).
inline constexpr unsigned long APP_TEXT_THREAD_STARTED = 0x10000001;
inline constexpr unsigned long APP_TEXT_THREAD_FINISHED = 0x10000002;
// Button captions and labels; those marked (not shown) have no control in the dialog.
inline constexpr unsigned long APP_TEXT_BUTTON_CLEAR_STATUS = 0x11000001; // (not shown)
inline constexpr unsigned long APP_TEXT_BUTTON_AUTO_SCROLL = 0x11000002;  // (not shown)
inline constexpr unsigned long APP_TEXT_BUTTON_OPEN = 0x11000003;         // (not shown)
inline constexpr unsigned long APP_TEXT_BUTTON_CLOSE = 0x11000004;        // (not shown)
inline constexpr unsigned long APP_TEXT_BUTTON_START_UPDATE = 0x11000005;
inline constexpr unsigned long APP_TEXT_BUTTON_CANCEL_UPDATE = 0x11000006; // (not shown)
// The answers of the dialog's message boxes.
inline constexpr unsigned long APP_TEXT_BUTTON_YES = 0x11000007;
inline constexpr unsigned long APP_TEXT_BUTTON_NO = 0x11000008;
inline constexpr unsigned long APP_TEXT_BUTTON_OK = 0x11000009;
inline constexpr unsigned long APP_TEXT_BUTTON_CANCEL = 0x1100000A;
inline constexpr unsigned long APP_TEXT_LABEL_SETTINGS = 0x12000001;       // (not shown)
inline constexpr unsigned long APP_TEXT_LABEL_LANGUAGE = 0x12000002;
inline constexpr unsigned long APP_TEXT_LABEL_BAUD_RATE = 0x12000003;      // (not shown)
inline constexpr unsigned long APP_TEXT_LABEL_COM_PORT = 0x12000004;
inline constexpr unsigned long APP_TEXT_LABEL_STATUS = 0x12000005;
inline constexpr unsigned long APP_TEXT_LABEL_PROGRESS = 0x12000006;
inline constexpr unsigned long APP_TEXT_STATE_READY = 0x12000101;
inline constexpr unsigned long APP_TEXT_STATE_CCPU = 0x12000102;
inline constexpr unsigned long APP_TEXT_STATE_KCPU = 0x12000103;
inline constexpr unsigned long APP_TEXT_STATE_LCPU = 0x12000104;
inline constexpr unsigned long APP_TEXT_STATE_MCPU = 0x12000105;
inline constexpr unsigned long APP_TEXT_STATE_ECPU = 0x12000106;
inline constexpr unsigned long APP_TEXT_STATE_RCPU = 0x12000107;
inline constexpr unsigned long APP_TEXT_STATE_VELTRIX = 0x12000108;
inline constexpr unsigned long APP_TEXT_STATE_FAILED = 0x12000109;
inline constexpr unsigned long APP_TEXT_STATE_SUCCEEDED = 0x12000110;
inline constexpr unsigned long APP_TEXT_STATE_CAN_DRIVER = 0x12000111;
inline constexpr unsigned long APP_TEXT_STATE_PREPARING = 0x12000112;
// The status while a written image is read back; %s: the target's state text.
inline constexpr unsigned long APP_TEXT_STATE_VERIFYING = 0x12000113;
inline constexpr unsigned long APP_TEXT_PORT_NOT_ACCESSIBLE = 0x13000001;
inline constexpr unsigned long APP_TEXT_DEVICE_UNKNOWN = 0x13000002;
inline constexpr unsigned long APP_TEXT_UPDATES_POSSIBLE = 0x13000003;
inline constexpr unsigned long APP_TEXT_NEWEST_INSTALLED = 0x13000004;
inline constexpr unsigned long APP_TEXT_INSTALL_NOW = 0x13000005;
inline constexpr unsigned long APP_TEXT_UPDATE_FAILED_BECAUSE = 0x13000006;
inline constexpr unsigned long APP_TEXT_UPDATE_COMPLETED = 0x13000007;
inline constexpr unsigned long APP_TEXT_GOING_TO_INSTALL = 0x13000008;
inline constexpr unsigned long APP_TEXT_FILE = 0x13000009;
inline constexpr unsigned long APP_TEXT_LCPU_NOT_STARTED = 0x13000010;
inline constexpr unsigned long APP_TEXT_MCPU_NOT_STARTED = 0x13000011;
inline constexpr unsigned long APP_TEXT_KCPU_NOT_STARTED = 0x13000012;
inline constexpr unsigned long APP_TEXT_CCPU_NOT_STARTED = 0x13000013;
inline constexpr unsigned long APP_TEXT_FILE_NOT_READ = 0x13000014;
inline constexpr unsigned long APP_TEXT_DETECTED_ERROR = 0x13000015;
inline constexpr unsigned long APP_TEXT_HEADER_NOT_SUPPORTED = 0x13000016;
inline constexpr unsigned long APP_TEXT_FILE_FOUND = 0x13000017;
inline constexpr unsigned long APP_TEXT_ECPU_NOT_STARTED = 0x13000018;
inline constexpr unsigned long APP_TEXT_RCPU_NOT_STARTED = 0x13000019;
inline constexpr unsigned long APP_TEXT_VELTRIX_NOT_STARTED = 0x13000020;
inline constexpr unsigned long APP_TEXT_CAN_DRIVER_UNKNOWN = 0x13000021;
inline constexpr unsigned long APP_TEXT_NO_CAN_DRIVER = 0x13000022;
inline constexpr unsigned long APP_TEXT_CAN_DRIVER_NOT_STARTED = 0x13000023;
inline constexpr unsigned long APP_TEXT_FS_CAN_ATTACHED = 0x13000024;
inline constexpr unsigned long APP_TEXT_LBUS_ATTACHED = 0x13000025;
inline constexpr unsigned long APP_TEXT_EMERGENCY_PRESSED = 0x13000026;
inline constexpr unsigned long APP_TEXT_EMERGENCY_UNKNOWN = 0x13000027;
// What became of a target that was not updated, after its error text.
inline constexpr unsigned long APP_TEXT_STOPPED_BEFORE_TARGET = 0x13000101;
inline constexpr unsigned long APP_TEXT_EXPANDER_NOT_FOUND_AGAIN = 0x13000102; // %s: the expander
inline constexpr unsigned long APP_TEXT_NO_ANSWER_TO_REQUEST = 0x13000103;
inline constexpr unsigned long APP_TEXT_EMPTY_IMAGE = 0x13000104; // %s: the file
// Asked when the dialog is closed while the update thread runs.
inline constexpr unsigned long APP_TEXT_STOP_AFTER_CURRENT = 0x13000028;
// The cause named for a firmware file with a sound header and an empty payload.
inline constexpr unsigned long APP_TEXT_PAYLOAD_EMPTY = 0x13000029;
// A processor found waiting in its bootloader, and its recovery.
inline constexpr unsigned long APP_TEXT_BOOTLOADER_WAITING = 0x13000201; // %04X chip, %u.%u version
inline constexpr unsigned long APP_TEXT_RECOVERY_QUESTION = 0x13000202;  // %s target, %s time, %s version
inline constexpr unsigned long APP_TEXT_RECOVERY_NO_JOURNAL = 0x13000203; // %s port
inline constexpr unsigned long APP_TEXT_RECOVERY_FILE_CHANGED = 0x13000204; // %s file
inline constexpr unsigned long APP_TEXT_RECOVERY_FAILED = 0x13000205;   // %s target, %s cause
inline constexpr unsigned long APP_TEXT_RECOVERED = 0x13000206;         // %s target, %s version
inline constexpr unsigned long APP_TEXT_RECOVERY_CHOOSE = 0x13000207;
// What the device confirmed after the update.
inline constexpr unsigned long APP_TEXT_UNCONFIRMED = 0x13000301;       // %s target, %s reported, %s file's
inline constexpr unsigned long APP_TEXT_NOT_CONFIRMED = 0x13000302;     // %s target, %s cause
inline constexpr unsigned long APP_TEXT_NOT_VERIFIED = 0x13000303;      // %s target, %s cause
inline constexpr unsigned long APP_TEXT_NO_ANSWER_AFTER_UPDATE = 0x13000304;
inline constexpr unsigned long APP_TEXT_NOT_REPORTED = 0x13000305;
inline constexpr unsigned long APP_TEXT_EXPANDERS_SHORT = 0x13000306;   // %u announced, %u reported, %s list
// No firmware to plan with.
inline constexpr unsigned long APP_TEXT_NO_FIRMWARE_FOLDER = 0x13000311;      // %s folder
inline constexpr unsigned long APP_TEXT_FIRMWARE_FOLDER_UNREADABLE = 0x13000312; // %s folder, %s cause
inline constexpr unsigned long APP_TEXT_FIRMWARE_FOLDER_EMPTY = 0x13000313;   // %s folder
inline constexpr unsigned long APP_TEXT_NO_FIRMWARE_FOR_DEVICE = 0x13000314;  // %s folder, %s device, %s processors
inline constexpr unsigned long APP_TEXT_FILES_PASSED_OVER = 0x13000315;
// The PC side of the transfers, checked before any processor is switched.
inline constexpr unsigned long APP_TEXT_PC_NOT_READY = 0x13000321;
inline constexpr unsigned long APP_TEXT_NOTHING_TOUCHED = 0x13000322;
// Targets left out because the device can no longer answer, and what to do next.
inline constexpr unsigned long APP_TEXT_DEVICE_UNREACHABLE = 0x13000331;  // %s cause
inline constexpr unsigned long APP_TEXT_NEXT_FLASHED_FIRST = 0x13000332;  // %s target
inline constexpr unsigned long APP_TEXT_NEXT_START_AGAIN = 0x13000333;
inline constexpr unsigned long APP_TEXT_NEXT_RECONNECT = 0x13000334;
inline constexpr unsigned long APP_TEXT_LOG_NOT_WRITTEN = 0x13000335; // %s folder
inline constexpr unsigned long APP_TEXT_NEXT_CHECK_FILE = 0x13000336;
inline constexpr unsigned long APP_TEXT_CAPTION_ABORTED = 0x14000001;
inline constexpr unsigned long APP_TEXT_CAPTION_START = 0x14000002;
inline constexpr unsigned long APP_TEXT_CAPTION_FAILED = 0x14000003;
inline constexpr unsigned long APP_TEXT_CAPTION_SUCCEEDED = 0x14000004;

// The text in the library's current language, asked at every call; "???" for language 2 and for
// an id without text.
const char* GetUpdateText(unsigned long id);

// A status as the operator reads it: what it means in words, then its name for whoever looks it up.
std::string StatusInWords(long status);
