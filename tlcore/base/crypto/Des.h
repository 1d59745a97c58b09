// Single-block DES with its own key schedule.
//
// Used only to obfuscate stored passwords, which depend on one quirk: the
// key bits of each byte are taken least significant first, so the result
// equals standard DES under the key with each byte's bit order reversed.
// Block bits follow the standard. Parity bits (each key byte's most
// significant bit under this order) are ignored. Schedules are caller-owned
// arrays; the functions keep no state and are safe on any thread.
#pragma once

#include <stdint.h>

namespace crypto {

class Des {
public:
  // 16 round subkeys, two words each, in the order the block function uses
  // them; the remaining words stay zero.
  static constexpr int kScheduleWords = 64;
  static constexpr int kScheduleBytes = kScheduleWords * 4;
  typedef uint32_t Schedule[kScheduleWords];

  static void clearSchedule(uint32_t schedule[kScheduleWords]);
  static void setKeyEncrypt(uint32_t schedule[kScheduleWords], const uint8_t key[8]);
  static void setKeyDecrypt(uint32_t schedule[kScheduleWords], const uint8_t key[8]);
  static void saveSchedule(const uint32_t schedule[kScheduleWords], uint8_t out[kScheduleBytes]);
  static void loadSchedule(uint32_t schedule[kScheduleWords], const uint8_t in[kScheduleBytes]);

  // One block; in and out may be the same buffer.
  static void cryptBlock(const uint32_t schedule[kScheduleWords], const uint8_t in[8],
                         uint8_t out[8]);
};

} // namespace crypto
