/* A cabinet library with eight of the nine entry points: FDIIsCabinet is missing. */
#define STUB_EXPORT __attribute__((visibility("default")))

STUB_EXPORT void *FCICreate(void) { return 0; }
STUB_EXPORT int FCIAddFile(void) { return 0; }
STUB_EXPORT int FCIFlushCabinet(void) { return 0; }
STUB_EXPORT int FCIFlushFolder(void) { return 0; }
STUB_EXPORT int FCIDestroy(void) { return 0; }
STUB_EXPORT void *FDICreate(void) { return 0; }
STUB_EXPORT int FDICopy(void) { return 0; }
STUB_EXPORT int FDIDestroy(void) { return 0; }
