#pragma once

// Marks the functions that leave the shared library; everything else is hidden.
#if defined(_WIN32)
#if defined(VORNIK_BUILDING_LIBRARY)
#define VORNIK_API __declspec(dllexport)
#else
#define VORNIK_API __declspec(dllimport)
#endif
#else
#define VORNIK_API __attribute__((visibility("default")))
#endif
