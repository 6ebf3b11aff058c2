#pragma once
// Linux errno values translated to the Windows error codes the logic prints.

#include <cstdint>

namespace platform {
namespace linuxos {

// Codes that platform.h does not list but Windows reports for these cases.
constexpr uint32_t ERROR_NEGATIVE_SEEK = 131;
constexpr uint32_t ERROR_NOT_LOCKED = 158;

enum class Transfer { None, Read, Write };

// `during` picks the fault code for I/O errors (EIO) of a transfer.
uint32_t windowsError(int errnoValue, Transfer during = Transfer::None);

}  // namespace linuxos
}  // namespace platform
