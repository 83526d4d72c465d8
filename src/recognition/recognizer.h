#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "database/ardb_mngr.h"

namespace vornik {

// Status codes of recognize.
enum RecognizerStatus : int32_t {
  kRecognized = 0,
  kRecognizerNoDatabase = 5,
  kNotRecognized = 10,
};

// Decides which target of the database, if any, a frame shows.
class Recognizer {
 public:
  Recognizer();
  ~Recognizer();
  int32_t init(std::shared_ptr<ArdbMngr> database);
  // On 0, `result` holds {[{"id":"NAME"}]}; otherwise it is left as it was.
  int32_t recognize(int32_t width, int32_t height, int32_t pixelFormat, const uint8_t* pixels,
                    std::string& result, std::string hint);

 private:
  std::shared_ptr<ArdbMngr> database_;
};

}  // namespace vornik
