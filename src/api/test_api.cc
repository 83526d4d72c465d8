// Exported still-image test functions.
#include <fstream>
#include <string>

#include "vornik/vornik.h"

namespace vornik {

void startTest(TestModeEnum, std::string, int, int) {}

void trackNextImage(std::string, unsigned char*, int, int, int, int) {}

void renderNextImage(unsigned char*, int, int, int, int) {}

void testRecognizer(unsigned char*, std::string, int, int, int, int, std::ofstream&) {}

void endTest() {}

}  // namespace vornik
