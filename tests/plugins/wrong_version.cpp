// A library that looks like an export plug-in but was built for another
// plug-in interface version.
extern "C" __attribute__((visibility("default"))) const char* LibDescription() { return "Old plug-in"; }
extern "C" __attribute__((visibility("default"))) int LibNumberClasses() { return 1; }
extern "C" __attribute__((visibility("default"))) void* LibClassDesc(int) { return nullptr; }
extern "C" __attribute__((visibility("default"))) unsigned long LibVersion() { return 0x07D00400; }
