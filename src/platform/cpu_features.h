#pragma once

namespace vornik {

// Instruction sets the running processor offers, asked once. Kernels built
// for them are chosen at run time, so one binary runs on every x86 machine;
// elsewhere all are false and the portable forms run.
bool cpuHasSsse3();
bool cpuHasSse41();
bool cpuHasAvx2();

// One form of a kernel that has several (scalar reference, SSE2, AVX2 ...),
// listed so tests can hold every form the processor runs against the first.
template <typename Kernel>
struct NamedKernel {
  const char* name;
  Kernel run;
};

}  // namespace vornik
