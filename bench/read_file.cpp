// zel-bench-read-file FILE: the floor under any decoder of FILE: reads it in 262 KiB
// blocks, as zel-decode does, and sums its 16-bit samples so the reads are not idle.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

int main(int ArgCount, char **Args) {
    const int Descriptor = ArgCount == 2 ? open(Args[1], O_RDONLY) : -1;
    if (Descriptor < 0) {
        std::fprintf(stderr, "usage: zel-bench-read-file FILE\n");
        return 2;
    }
    std::vector<std::int16_t> Block(14 * 9600); // zel-decode's block
    std::int64_t Sum = 0;
    for (ssize_t Got; (Got = read(Descriptor, Block.data(), Block.size() * 2)) > 0;)
        for (ssize_t Index = 0; Index < Got / 2; ++Index)
            Sum += Block[Index];
    std::printf("%lld\n", static_cast<long long>(Sum));
    return 0;
}
