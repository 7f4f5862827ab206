// Small helpers shared by the test binaries: a temporary directory that is
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
// A fresh directory under the system's temporary directory (or `under`),
// removed with all it holds when the object goes, whatever a test made
// read-only in it.
class TempDir
{
public:
    explicit TempDir(const std::filesystem::path& under = std::filesystem::temp_directory_path())
    {
        std::string pattern = (under / "nasfinder-test-XXXXXX").string();
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        if (::mkdtemp(buf.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        m_path = buf.data();
    }
    ~TempDir()
    {
        std::error_code ignored;
        for (auto it = std::filesystem::recursive_directory_iterator(m_path, ignored);
             it != std::filesystem::recursive_directory_iterator(); it.increment(ignored))
        {
            if (it->is_directory(ignored) && !it->is_symlink(ignored))
                std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                             std::filesystem::perm_options::add, ignored);
        }
        std::filesystem::permissions(m_path, std::filesystem::perms::owner_all, std::filesystem::perm_options::add,
                                     ignored);
        std::filesystem::remove_all(m_path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    std::string str() const { return m_path.string(); }
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
