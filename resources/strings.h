// String table: ids and texts, defined once. The resource script builds its
// STRINGTABLE from these and the message catalogue refers to the same names,
// so a text can never differ between the two.
#ifndef SQ71_RESOURCES_STRINGS_H
#define SQ71_RESOURCES_STRINGS_H

#define IDS_CAPTION 167
#define TXT_CAPTION "SQ-71 Meter - Log"
// Caption text used before the string table has been read.
#define TXT_CAPTION_DEFAULT "SQ-71 Meter"

#define IDS_ACK_NOT_RECEIVED 110
#define TXT_ACK_NOT_RECEIVED "Error - Ack not received"
#define IDS_NO_MEMORY 112
#define TXT_NO_MEMORY "Error: Not enough memory to create ComAccess object!"
#define IDS_HANDSHAKE 124
#define TXT_HANDSHAKE "Error - Handshake not received"
#define IDS_TRANSFER_COMPLETE 128
#define TXT_TRANSFER_COMPLETE "Transfer Complete!"
#define IDS_INVALID_BINARY_FILE 130
#define TXT_INVALID_BINARY_FILE "Invalid binary file"
#define IDS_CANT_LOAD_IMAGE 142
#define TXT_CANT_LOAD_IMAGE "Can't load program image"
#define IDS_ABOUT_TITLE 146
#define TXT_ABOUT_TITLE "About..."
#define IDS_CANCEL 152
#define TXT_CANCEL "Cancel"
#define IDS_NO_DRIVER 168
#define TXT_NO_DRIVER "Warning, can't load USB driver (ftd2xx.dll)"
#define IDS_USB_DEVICES 214
#define TXT_USB_DEVICES "USB Devices"
#define IDS_USB_PORT_ERROR 216
#define TXT_USB_PORT_ERROR "USB Port Error"
#define IDS_INSTALL_DRIVER 218
#define TXT_INSTALL_DRIVER "You must install the USB driver first!"
#define IDS_DEVICE_RECYCLING 220
// clang-format off
#define TXT_DEVICE_RECYCLING "The device has been upgraded and is recycling. You may need to disconnect then reconnect the USB lead."
// clang-format on
#define IDS_NO_DEVICES 222
#define TXT_NO_DEVICES "No devices found"
// Message 14 names string 236, which the string table does not hold.
#define IDS_MISSING 236
#define IDS_FILE_LOADED 138
#define TXT_FILE_LOADED "File loaded successfully"
#define IDS_ENTER_FILENAME 148
#define TXT_ENTER_FILENAME "Enter Filename"
#define IDS_ENTER_FILE_AND_PATH 150
#define TXT_ENTER_FILE_AND_PATH "Enter file and path"
#define IDS_CONFIRM_OVERWRITE 156
#define TXT_CONFIRM_OVERWRITE "Confirm file overwrite?"
#define IDS_INVALID_DATA_FILE 132
#define TXT_INVALID_DATA_FILE "Error - Invalid data file"
#define IDS_CANT_SAVE_IMAGE 144
#define TXT_CANT_SAVE_IMAGE "Can't save program image"
#define IDS_REGISTRY 120
#define TXT_REGISTRY "Can't read system registry, COM setting will not be saved"
#define IDS_CHECKSUM_ERROR 223
#define TXT_CHECKSUM_ERROR "Checksum error"
#define IDS_CONFIRM_ERASE 224
#define TXT_CONFIRM_ERASE "Please confirm that you wish to erase the meter log data?"
#define IDS_LOG_ERASED 225
#define TXT_LOG_ERASED "Meter log data erased"
#define IDS_INVALID_LOG_ENTRY 226
#define TXT_INVALID_LOG_ENTRY "Invalid log entry"
#define IDS_NO_LOG_DATA 227
#define TXT_NO_LOG_DATA "No logging data present"

#endif
