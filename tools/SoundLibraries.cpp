#include "tools/SoundLibraries.h"

#include "tools/ToolMain.h"

#include <dlfcn.h>

#include <string>

namespace {

class TLibrary {
public:
    explicit TLibrary(const char *Name) : FName(Name), FHandle(dlopen(Name, RTLD_NOW)) {
        if (!FHandle)
            throw EToolError(std::string("cannot load ") + Name + ": " + dlerror());
    }
    template <typename TFunction> void Resolve(TFunction &Function, const char *Symbol) {
        Function = reinterpret_cast<TFunction>(dlsym(FHandle, Symbol));
        if (!Function)
            throw EToolError(std::string("cannot load ") + FName + ": no " + Symbol);
    }

private:
    const char *FName;
    void *FHandle; // stays loaded for the life of the process
};

TSndfile LoadSndfile() {
    TLibrary Library("libsndfile.so.1");
    TSndfile Api{};
    Library.Resolve(Api.OpenFd, "sf_open_fd");
    Library.Resolve(Api.OpenVirtual, "sf_open_virtual");
    Library.Resolve(Api.Close, "sf_close");
    Library.Resolve(Api.StrError, "sf_strerror");
    Library.Resolve(Api.ReadShorts, "sf_readf_short");
    Library.Resolve(Api.ReadFloats, "sf_readf_float");
    Library.Resolve(Api.WriteShorts, "sf_writef_short");
    return Api;
}

TSoxr LoadSoxr() {
    TLibrary Library("libsoxr.so.0");
    TSoxr Api{};
    Library.Resolve(Api.Create, "soxr_create");
    Library.Resolve(Api.Delete, "soxr_delete");
    Library.Resolve(Api.Process, "soxr_process");
    Library.Resolve(Api.IoSpec, "soxr_io_spec");
    Library.Resolve(Api.QualitySpec, "soxr_quality_spec");
    return Api;
}

} // namespace

const TSndfile &Sndfile() {
    static const TSndfile Api = LoadSndfile();
    return Api;
}

const TSoxr &Soxr() {
    static const TSoxr Api = LoadSoxr();
    return Api;
}
