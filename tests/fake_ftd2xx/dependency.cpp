// A library the stand-in built with FAKE_FTD2XX_NEEDS_DEPENDENCY needs, kept where the loader
// never looks: that stand-in is there, yet can't load.
#ifdef _WIN32
#define FAKE_FTD2XX_EXPORT __declspec(dllexport)
#else
#define FAKE_FTD2XX_EXPORT __attribute__((visibility("default")))
#endif

extern "C" FAKE_FTD2XX_EXPORT int fake_ftd2xx_dependency() {
    return 0;
}
