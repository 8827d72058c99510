// Meter frames: the requests the PC sends to the meter, their checksum, and
// the tests that decide whether a reply can be used.
//
// A request is 0x02, 0x00, n, then n command and argument bytes, then the
// checksum of bytes 1 to 2+n. Replies open with ACK 0x06.
#ifndef SQ71_PROTOCOL_FRAME_H
#define SQ71_PROTOCOL_FRAME_H

#include <cstdint>
#include <string>

#include "usb/d2xx.h"

namespace sq71 {

constexpr int kIdentifyRequestSize = 5;
constexpr int kEraseRequestSize = 6;
constexpr int kReadRequestSize = 8;
constexpr int kReadReplySize = 72;
constexpr int kIdentifyReplyMax = 100;
constexpr uint8_t kAck = 0x06;
constexpr uint8_t kFrameStart = 0x02;

// Longest identify payload whose name and checksum still fit the 100 bytes
// read: 3 header bytes + L + 1 checksum byte <= 100.
constexpr int kIdentifyLengthMax = kIdentifyReplyMax - 4;

// Two's complement of the XOR of `count` bytes, so that the XOR of the
// covered bytes plus the checksum is 0 modulo 256. No bytes give 0.
uint8_t FrameChecksum(const uint8_t* bytes, int count);

// "I": 02 00 01 49 B8.
void BuildIdentifyRequest(uint8_t out[kIdentifyRequestSize]);
// "LE": 02 00 02 4C 45 F5.
void BuildEraseRequest(uint8_t out[kEraseRequestSize]);
// "LR" with the record number high byte first (only its low 16 bits are
// sent; callers ask for 0 to 1023).
void BuildReadRequest(int record, uint8_t out[kReadRequestSize]);

enum class ReadReplyVerdict { kNoHandshake, kChecksumFailure, kInvalidRecord, kGood };

// Judges a 72-byte read-record reply. The tests run in a fixed order and the
// first that fails decides. On kGood *record_number is the record the reply
// names (bytes 5 and 6), which need not be the one asked for; the record's
// 64 bytes start at reply + 7.
ReadReplyVerdict TestReadReply(FT_STATUS status, uint32_t bytes_read, const uint8_t* reply,
                               int* record_number);

// The erase reply is good when the read succeeded, delivered at least one
// byte, and that byte is ACK.
bool TestEraseReply(FT_STATUS status, uint32_t bytes_read, uint8_t first_byte);

// Judges an identify reply read into a buffer of kIdentifyReplyMax bytes. On
// success the checksum byte is overwritten with NUL, which ends the name that
// starts at byte 4, and the name is stored in *name (if given).
bool TestIdentifyReply(FT_STATUS status, uint32_t bytes_read, uint8_t* reply, std::string* name);

}  // namespace sq71

#endif
