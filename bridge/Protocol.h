// The gm7bridge protocol: how a program reaches the GoldMine API library that
// gm7bridge has loaded in its own process. This header is the protocol's one
// description; the bridge (Server.cpp) and its client (Client.cpp) both build
// on the reader and writer below.
//
// Transport: the bridge reads requests on its standard input and writes
// answers on its standard output, both binary. Each message is a frame:
//
//     u32 length, then `length` bytes of body            (length <= kMaxFrame)
//
// Integers are little-endian; i32 is two's complement. Text is
//
//     u32 size, then `size` bytes                          (no terminator)
//
// and carries exactly the 8-bit bytes the API takes or hands back (the local
// code page; the bridge never converts). The API sees text up to its first
// zero byte, as a C string would.
//
// A request body starts with one byte: the call (enum Call), with kNoAnswer
// set for a call whose answer the program does not wait for. The answer body
// starts with one byte of status (enum Status). The fields that follow:
//
//   call             request fields                     answer fields (Ok)
//   Hello            u32 magic, u32 version             u32 version, u32 pointer bits
//   LoadBDE          text sysDir, goldDir, commonDir,   i32 result
//                    userName, password
//   DS_Query         text sql (the three further        i32 result
//                    arguments are passed as null)
//   DS_Fetch         i32 handle, i32 size, i32 count,   i32 result, text buffer
//                    u8 buffer: 0 none, 1 given,        (size + 1 bytes when a
//                    2 given, and read ahead            buffer was given and
//                                                        size >= 0, else none;
//                                                        a buffer that would not
//                                                        fit a frame is not made:
//                                                        result kFetchTooLarge);
//                                                        with 2 then u8 read (0
//                                                        or 1) and, when 1, the
//                                                        reading call's i32
//                                                        result, text buffer
//
// Reading ahead: a sizing call (size 0, count > 0) only prepares the text and
// the reading call (the size it answered, count 0) only copies it out, so the
// bridge may make the reading call right after a sizing call that answered a
// size >= 0, and send both answers at once. The client answers the program's
// reading call for that handle and size from them, without a round trip.
// The bridge's buffers start zero-filled, as the program's do, so a byte the
// library leaves alone comes back as zero.
//   DS_Close         i32 handle                         i32 result
//   NV_Create        -                                  i32 result
//   NV_SetValue      i32 container, text name, value    i32 result
//   NV_AppendNvValue i32 container, text name,          i32 result
//                    i32 nested
//   NV_GetValue      i32 container, text name,          u8 null (1: the API gave
//                    text default                       a null pointer), text value
//   NV_EraseAll      i32 container                      i32 result
//   NV_Delete        i32 container                      i32 result
//   Execute          text call name, i32 container      i32 result
//   LoadFailureReason -                                 u8 null, text reason: what
//                                                        the stand-in's
//                                                        GM7S32_LoadFailureReason
//                                                        says; null where the
//                                                        library has no such call
//
// Statuses other than Ok:
//   Unbound          i32 result, text reason: the library or the function
//                    could not be bound; the call was not made. The result is
//                    kUnboundLibrary for a library that does not load and
//                    kUnboundFunction for a missing function.
//   EarlierFailed    u8 call, i32 result: a kNoAnswer call failed with that
//                    result (or was not bound). The request this answers was
//                    NOT carried out, so nothing runs on a half-filled
//                    container; the failure is then forgotten.
//   Malformed        text reason: the request could not be read. The bridge
//                    then stops: after a bad frame the stream is out of step.
//
// Session: the client sends Hello first. A bridge that speaks another version
// answers Malformed and stops. Requests are answered in order, one answer per
// request without kNoAnswer. Only calls whose results the program never
// tests may carry kNoAnswer: NV_SetValue, NV_AppendNvValue and NV_EraseAll,
// which fill and empty containers, and NV_Delete and DS_Close, which release
// them (the client sends these two unanswered only for a handle the library
// gave, > 0). The bridge ends when its input ends.
//
// The password in LoadBDE passes once. The bridge wipes every copy it made
// (the frame and the decoded text) right after GMW_LoadBDE returns, and it
// never writes request contents to its error output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace bridge {

inline constexpr uint32_t kMagic = 0x42374d47; // "GM7B" read as little-endian bytes
inline constexpr uint32_t kVersion = 1;
inline constexpr uint32_t kMaxFrame = 256u * 1024u * 1024u;
inline constexpr std::size_t kHeaderSize = 4;

// Results the bridge gives for calls it could not make. They match what the
// in-process binding answers for the same failures.
inline constexpr int32_t kUnboundLibrary = -2;
inline constexpr int32_t kUnboundFunction = -1;
inline constexpr int32_t kFetchTooLarge = -90;

enum class Call : uint8_t {
    Hello = 1,
    LoadBDE,
    DS_Query,
    DS_Fetch,
    DS_Close,
    NV_Create,
    NV_SetValue,
    NV_AppendNvValue,
    NV_GetValue,
    NV_EraseAll,
    NV_Delete,
    Execute,
    LoadFailureReason,
};
inline constexpr uint8_t kNoAnswer = 0x80;

enum class Status : uint8_t { Ok = 0, Unbound = 1, EarlierFailed = 2, Malformed = 3 };

// The API function's name for a call, e.g. "GMW_NV_SetValue"; "" for Hello.
const char *callName(Call call);
// True for the calls that may be sent with kNoAnswer.
bool mayGoUnanswered(Call call);
// True for a byte that names a call (kNoAnswer removed).
bool isCall(uint8_t byte);

// Builds one frame: reserve the header, append fields, then finish().
class Writer
{
public:
    Writer();
    Writer &u8(uint8_t value);
    Writer &u32(uint32_t value);
    Writer &i32(int32_t value);
    Writer &text(std::string_view bytes);
    // Fills in the length and hands back the whole frame.
    std::string &finish();
    // Overwrites the frame's bytes (it held a password) and empties it.
    void wipe();

private:
    std::string m_frame;
};

// Reads the fields of one frame's body in order. Any read past the end marks
// the reader failed and answers zero or empty values from then on.
class Reader
{
public:
    explicit Reader(std::string_view body)
        : m_body(body)
    {}
    uint8_t u8();
    uint32_t u32();
    int32_t i32();
    std::string_view text();
    bool failed() const { return m_failed; }
    // True when every byte was read and nothing was missing.
    bool complete() const { return !m_failed && m_offset == m_body.size(); }

private:
    bool take(std::size_t count, const char **start);

    std::string_view m_body;
    std::size_t m_offset = 0;
    bool m_failed = false;
};

// The body length a frame header announces; nullopt when it exceeds kMaxFrame.
std::optional<uint32_t> frameLength(const char header[kHeaderSize]);

// Overwrites bytes in a way the compiler may not drop.
void wipeBytes(void *bytes, std::size_t count);

} // namespace bridge
