// Placeholder until the recognition engine lands: recognises nothing.
#include "recognition/recognizer.h"

namespace vornik {

Recognizer::Recognizer() = default;
Recognizer::~Recognizer() = default;
int32_t Recognizer::init(std::shared_ptr<ArdbMngr> database) {
  database_ = std::move(database);
  return 0;
}
int32_t Recognizer::recognize(int32_t, int32_t, int32_t, const uint8_t*, std::string&,
                              std::string) {
  return database_ ? kNotRecognized : kRecognizerNoDatabase;
}

}  // namespace vornik
