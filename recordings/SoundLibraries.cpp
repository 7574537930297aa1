#include "recordings/SoundLibraries.h"

#include "cli/ToolMain.h"

#include <dlfcn.h>

#include <string>
#include <type_traits>
#include <utility>

namespace {

void *Open(const char *Name) {
    void *Handle = dlopen(Name, RTLD_NOW); // stays loaded for the life of the process
    if (!Handle)
        throw EToolError(std::string("cannot load ") + Name + ": " + dlerror());
    return Handle;
}

// The functions of library Name, each set in the member of TApi that it is paired with.
template <typename TApi, typename... TFunctions>
TApi Load(const char *Name, std::pair<TFunctions TApi::*, const char *>... Symbols) {
    void *Handle = Open(Name);
    TApi Api{};
    const auto Resolve = [&](auto &Function, const char *Symbol) {
        Function =
            reinterpret_cast<std::remove_reference_t<decltype(Function)>>(dlsym(Handle, Symbol));
        if (!Function)
            throw EToolError(std::string("cannot load ") + Name + ": no " + Symbol);
    };
    (Resolve(Api.*Symbols.first, Symbols.second), ...);
    return Api;
}

template <typename TApi, typename TFunction>
std::pair<TFunction TApi::*, const char *> In(TFunction TApi::*Member, const char *Symbol) {
    return {Member, Symbol};
}

} // namespace

const TSndfile &Sndfile() {
    using T = TSndfile;
    static const TSndfile Api =
        Load("libsndfile.so.1", In(&T::OpenFd, "sf_open_fd"),
             In(&T::OpenVirtual, "sf_open_virtual"), In(&T::Close, "sf_close"),
             In(&T::StrError, "sf_strerror"), In(&T::ReadShorts, "sf_readf_short"),
             In(&T::ReadFloats, "sf_readf_float"), In(&T::WriteShorts, "sf_writef_short"));
    return Api;
}

const TSoxr &Soxr() {
    using T = TSoxr;
    static const TSoxr Api =
        Load("libsoxr.so.0", In(&T::Create, "soxr_create"), In(&T::Delete, "soxr_delete"),
             In(&T::Process, "soxr_process"), In(&T::IoSpec, "soxr_io_spec"),
             In(&T::QualitySpec, "soxr_quality_spec"));
    return Api;
}
