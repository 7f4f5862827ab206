// Small helpers shared by the unit test binaries: a temporary directory that is
// removed again, and whole-file reads.
#ifndef NASFINDER_TESTS_TEST_SUPPORT_H
#define NASFINDER_TESTS_TEST_SUPPORT_H

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace testsupport
{
// A fresh directory under the system's temporary directory, removed with all it
// holds when the object goes.
class TempDir
{
public:
    TempDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "nasfinder-test-XXXXXX").string();
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        if (::mkdtemp(buf.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        m_path = buf.data();
    }
    ~TempDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    // The directory as the log wants it: with its final slash.
    std::string WithSlash() const { return m_path.string() + "/"; }

private:
    std::filesystem::path m_path;
};

inline std::string ReadFile(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::vector<std::filesystem::path> ListDir(const std::filesystem::path& dir)
{
    std::vector<std::filesystem::path> out;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        out.push_back(entry.path());
    return out;
}
} // namespace testsupport

#endif
