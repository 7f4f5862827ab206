// Runs a fuzz target's checks without libFuzzer, so that every build (g++,
// sanitizers, no clang) exercises them: over the seed corpus, and over random
// inputs of every length up to a limit, with a fixed seed so a failure repeats.
//
//   replay [--random-lengths MAX] [--per-length K] FILE_OR_DIR...
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <random>
#include <string>
#include <sys/stat.h>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace
{
bool ReadFile(const std::string& path, std::vector<std::uint8_t>& out)
{
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr)
        return false;
    out.clear();
    std::uint8_t chunk[4096];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof(chunk), f)) > 0)
        out.insert(out.end(), chunk, chunk + n);
    bool ok = std::ferror(f) == 0;
    std::fclose(f);
    return ok;
}

void Run(const std::vector<std::uint8_t>& input)
{
    // An empty vector has no data(); the target must still get a valid pointer.
    static const std::uint8_t kEmpty = 0;
    LLVMFuzzerTestOneInput(input.empty() ? &kEmpty : input.data(), input.size());
}

bool Replay(const std::string& path, std::size_t& count)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
    {
        std::fprintf(stderr, "replay: cannot read %s\n", path.c_str());
        return false;
    }
    if (S_ISDIR(st.st_mode))
    {
        DIR* dir = opendir(path.c_str());
        if (dir == nullptr)
            return false;
        std::vector<std::string> names;
        while (dirent* e = readdir(dir))
        {
            if (e->d_name[0] != '.')
                names.push_back(path + "/" + e->d_name);
        }
        closedir(dir);
        bool ok = true;
        for (const std::string& name : names)
            ok = Replay(name, count) && ok;
        return ok;
    }
    std::vector<std::uint8_t> input;
    if (!ReadFile(path, input))
    {
        std::fprintf(stderr, "replay: cannot read %s\n", path.c_str());
        return false;
    }
    Run(input);
    ++count;
    return true;
}
} // namespace

int main(int argc, char** argv)
{
    std::size_t maxLength = 0;
    int perLength = 2;
    bool random = false;
    std::vector<std::string> paths;
    for (int i = 1; i < argc; ++i)
    {
        std::string arg = argv[i];
        if (arg == "--random-lengths" && i + 1 < argc)
        {
            random = true;
            maxLength = std::strtoul(argv[++i], nullptr, 10);
        }
        else if (arg == "--per-length" && i + 1 < argc)
        {
            perLength = std::atoi(argv[++i]);
        }
        else if (!arg.empty() && arg[0] == '-')
        {
            std::fprintf(stderr, "usage: %s [--random-lengths MAX] [--per-length K] FILE_OR_DIR...\n",
                         argv[0]);
            return 2;
        }
        else
        {
            paths.push_back(arg);
        }
    }

    std::size_t count = 0;
    bool ok = true;
    for (const std::string& path : paths)
        ok = Replay(path, count) && ok;

    if (random)
    {
        // Random bytes, and random bytes drawn from a small printable alphabet
        // that makes header names and separators likely.
        std::mt19937 gen(20240601u);
        static const char kAlphabet[] =
            "VEXA/:,&=\r\n \tHTTPNOTIFYLOCATIONSERVERUSNuuid:ssdp:byebyealive\0<>\"'";
        std::vector<std::uint8_t> input;
        for (std::size_t len = 0; len <= maxLength; ++len)
        {
            for (int k = 0; k < perLength; ++k)
            {
                input.resize(len);
                for (std::size_t i = 0; i < len; ++i)
                {
                    std::uint32_t r = gen();
                    input[i] = k % 2 == 0 ? static_cast<std::uint8_t>(r)
                                          : static_cast<std::uint8_t>(kAlphabet[r % (sizeof(kAlphabet) - 1)]);
                }
                Run(input);
                ++count;
            }
        }
    }
    std::printf("replayed %zu inputs\n", count);
    return ok ? 0 : 1;
}
