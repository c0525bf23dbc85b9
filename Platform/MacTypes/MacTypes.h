// The Mac's basic integer types and the status codes shared by several interfaces of the
// platform layer. Each interface's own codes live in that interface's header.
#pragma once

#include <cstdint>

using UInt8 = std::uint8_t;
using SInt8 = std::int8_t;
using UInt16 = std::uint16_t;
using SInt16 = std::int16_t;
using UInt32 = std::uint32_t;
using SInt32 = std::int32_t;
using UInt64 = std::uint64_t;
using SInt64 = std::int64_t;
using Boolean = unsigned char;
using OSErr = SInt16;
using OSStatus = SInt32;
using FourCharCode = UInt32;
using OSType = FourCharCode;
using ResType = FourCharCode;
using DescType = ResType;
using UniChar = UInt16;
using ByteCount = unsigned long;
using ItemCount = unsigned long;

enum : OSStatus {
    noErr = 0,
    paramErr = -50,
    memFullErr = -108,
    fnfErr = -43,
    ioErr = -36,
    permErr = -54,
    dirNFErr = -120,
    afpAccessDenied = -5000,
};

// 'abcd' as the big-endian number the Mac's compilers make of a four-character literal.
constexpr FourCharCode FOUR_CHAR_CODE(const char (&code)[5])
{
    return (FourCharCode(UInt8(code[0])) << 24) | (FourCharCode(UInt8(code[1])) << 16)
        | (FourCharCode(UInt8(code[2])) << 8) | FourCharCode(UInt8(code[3]));
}
