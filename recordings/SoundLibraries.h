#pragma once

// libsndfile and libsoxr, loaded at their first use: a plain 16-bit recording needs
// neither, and loading them with the codecs they bring costs more than decoding it.
// Each call throws EToolError when its library cannot be loaded.

#include <sndfile.h>
#include <soxr.h>

struct TSndfile {
    decltype(&sf_open_fd) OpenFd;
    decltype(&sf_open_virtual) OpenVirtual;
    decltype(&sf_close) Close;
    decltype(&sf_strerror) StrError;
    decltype(&sf_readf_short) ReadShorts;
    decltype(&sf_readf_float) ReadFloats;
    decltype(&sf_writef_short) WriteShorts;
};
const TSndfile &Sndfile();

struct TSoxr {
    decltype(&soxr_create) Create;
    decltype(&soxr_delete) Delete;
    decltype(&soxr_process) Process;
    decltype(&soxr_io_spec) IoSpec;
    decltype(&soxr_quality_spec) QualitySpec;
};
const TSoxr &Soxr();
