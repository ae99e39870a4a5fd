// Image files of any content under every kind of name: the loaders refuse
// them with a code, or hand back a raster of the size that info reports,
// which the bitmap commands then encode and send. The input's first byte
// chooses the name, the second the loader and a rescaling; the rest is the file.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "VdlLabelAPI.h"
#include "fuzz_support.h"

namespace {

// A private directory, on tmpfs where there is one: the file is rewritten
// for every input.
struct Directory {
    Directory() {
        char shm[] = "/dev/shm/vdl-fuzz-XXXXXX";
        char tmp[] = "/tmp/vdl-fuzz-XXXXXX";
        path = mkdtemp(shm) != nullptr ? shm : mkdtemp(tmp) != nullptr ? tmp : "";
    }
    ~Directory() {
        for (const char *name : kNames) unlink((path + name).c_str());
        rmdir(path.c_str());
    }
    static constexpr const char *kNames[] = {"/f.bmp", "/f.BMP", "/f.jpg", "/f.gif", "/f"};
    std::string path;
};

bool writeFile(const std::string &path, const uint8_t *data, std::size_t size) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    bool whole = true;
    for (std::size_t done = 0; done < size && whole;) {
        const ssize_t n = write(fd, data + done, size - done);
        whole = n > 0;
        done += whole ? std::size_t(n) : 0;
    }
    close(fd);
    return whole;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const Directory directory;
    vdlfuzz::Input in(data, size);
    const std::string path = directory.path + Directory::kNames[in.byte() % 5];
    const uint8_t how = in.byte();
    const std::size_t taken = size < 2 ? size : 2;
    if (!writeFile(path, data + taken, size - taken)) return 0;

    unsigned char *image = nullptr;
    BITMAPINFOHEADER info{};
    const int result = how % 3 == 0 ? loadImage1(path.c_str(), &image, &info)
                                    : loadImage(path.c_str(), &image, &info, how % 3 == 1 ? 0 : how * 7);
    if (result != 0) {
        if (image != nullptr || result > 0) __builtin_trap();  // a failure hands out nothing
        return 0;
    }
    const std::size_t bytes = std::size_t((info.biWidth + 7) / 8) * std::size_t(info.biHeight);
    if (info.biWidth < 1 || info.biHeight < 0) __builtin_trap();
    if (bytes != 0) {  // both ends of the raster: the sanitizer checks it is as large as info says
        volatile unsigned char ends = image[0] ^ image[bytes - 1];
        (void)ends;
    }
    printLCR(image, &info, 0, 0);  // no connection: encoded, then the write returns at once
    std::free(image);
    return 0;
}
