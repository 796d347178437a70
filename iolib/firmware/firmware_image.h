/*
 * The board firmware as the library carries it: Intel HEX record texts, generated at build time
 * from the sdcc output of fx2/. Upper-case hexadecimal, data records in address order starting at
 * address 0, then the end-of-file record ":00000001FF". The image stays below 8192 bytes.
 */
#ifndef PORTIVA_FIRMWARE_IMAGE_H
#define PORTIVA_FIRMWARE_IMAGE_H

#ifdef __cplusplus
extern "C" {
#endif

extern const char* const kFirmwareRecords[];
extern const unsigned kFirmwareRecordCount; /* including the end-of-file record */
extern const unsigned kFirmwareImageSize;   /* highest address written plus one */

#ifdef __cplusplus
}
#endif

#endif
