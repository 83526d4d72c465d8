#pragma once
#include <cstdint>

namespace vornik {

// Result codes of the database operations.
enum DatabaseResult : int32_t {
  kDbOk = 0,
  kDbBadServer = 1,
  kDbBadType = 2,
  kDbUnknownTarget = 3,
  kDbCannotOpen = 6,
  kDbMalformed = 7,
};

}  // namespace vornik
