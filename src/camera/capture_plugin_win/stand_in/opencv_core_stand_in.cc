// Stand-in for opencv_core2410.dll in the Windows capture tests. The
// highgui stand-in imports from it, as the real one does, so it loads only
// once this library is in the process.
extern "C" __declspec(dllexport) int standInCoreVersion() { return 2410; }
