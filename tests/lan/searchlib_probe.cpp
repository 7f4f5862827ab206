// Drives the discovery library through its entry points for the end-to-end tests.
// Commands come one per line on standard input; every report and every finished
// command is written as one JSON line on standard output:
//   init LOG DIR MULTI     search_dll_init (LOG, MULTI: 0/1; DIR: '-' for none)
//   init-nocb LOG DIR MULTI  the same with a null device callback
//   interfaces INC EXC     search_dll_set_interfaces (comma-separated; '-' for none)
//   search                 SendMessageToDevice(NULL); reports how long it took
//   search-hex HEX         SendMessageToDevice with a packet of 148 bytes
//   slow MS                make the callback take MS milliseconds
//   threads                list the registered search threads
//   exit                   search_dll_exit
//   exit-wait              search_dll_exit, then report how long the workers
//                          took to leave their receive loops
//   quit                   end the process
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>
#include <atomic>

#include "DeviceRecord.h"
#include "Library.h"
#include "Searcher.h"
#include "SearchDeviceInfo.h"
#include "SearchDeviceOpt.h"
#include "search/SearchDeviceThread.h"
#include "log/ShowLog.h"

namespace
{
std::mutex g_outMutex;
std::atomic<int> g_callbackDelayMs{0};

std::string Hex(const char* data, std::size_t len)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < len; ++i)
    {
        unsigned char c = static_cast<unsigned char>(data[i]);
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

std::string HexField(const char* field)
{
    return Hex(field, ::strnlen(field, kDeviceFieldSize));
}

void Emit(const std::string& line)
{
    std::lock_guard<std::mutex> guard(g_outMutex);
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

int OnDevice(void* record, int nPort)
{
    const deviceinfo* info = static_cast<const deviceinfo*>(record);
    std::ostringstream out;
    out << "{\"event\":\"report\",\"port\":" << nPort << ",\"type\":" << info->type
        << ",\"life\":" << info->life;
    for (const testsupport::TextField& f : testsupport::kTextFields)
        out << ",\"" << f.name << "\":\"" << HexField(info->*f.member) << "\"";
    out << ",\"terminated\":" << (testsupport::EveryFieldTerminated(*info) ? "true" : "false") << "}";
    Emit(out.str());
    int delay = g_callbackDelayMs.load();
    if (delay > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    // Scribbling over the copy must not change what the library remembers.
    std::memset(record, 'Z', kDeviceFieldSize);
    return 0;
}

bool ParseHex(const std::string& hex, std::string& out)
{
    if (hex.size() % 2 != 0)
        return false;
    out.clear();
    for (std::size_t i = 0; i < hex.size(); i += 2)
        out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return true;
}
} // namespace

int main()
{
    // Reports go to standard output; the log's echo would interleave with them.
    SearchDeviceShowLog::io_set_echo_stream(stderr);
    std::string line;
    while (std::getline(std::cin, line))
    {
        std::istringstream in(line);
        std::string cmd;
        in >> cmd;
        if (cmd == "init" || cmd == "init-nocb")
        {
            int log = 0, multi = 0;
            std::string dir;
            in >> log >> dir >> multi;
            search_dll_init(cmd == "init" ? OnDevice : nullptr, log != 0, dir == "-" ? nullptr : dir.c_str(),
                            multi != 0);
        }
        else if (cmd == "first-port")
        {
            // Where the next command thread's port starts (before init).
            int port = 0;
            in >> port;
            LibrarySearcher().SetNextCommandPort(port);
        }
        else if (cmd == "interfaces")
        {
            std::string lists[2];
            in >> lists[0] >> lists[1];
            std::vector<std::string> names[2];
            std::vector<const char*> texts[2];
            for (int k = 0; k < 2; ++k)
            {
                std::istringstream items(lists[k] == "-" ? std::string() : lists[k]);
                for (std::string item; std::getline(items, item, ',');)
                    names[k].push_back(item);
                for (const std::string& name : names[k])
                    texts[k].push_back(name.c_str());
            }
            search_dll_set_interfaces(texts[0].data(), static_cast<int>(texts[0].size()), texts[1].data(),
                                      static_cast<int>(texts[1].size()));
        }
        else if (cmd == "search")
        {
            const auto start = std::chrono::steady_clock::now();
            SendMessageToDevice(nullptr);
            const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(
                std::chrono::steady_clock::now() - start);
            Emit("{\"event\":\"search\",\"micros\":" + std::to_string(micros.count()) + "}");
        }
        else if (cmd == "search-hex")
        {
            std::string hex, bytes;
            in >> hex;
            if (!ParseHex(hex, bytes) || bytes.size() != sizeof(dhcppacket))
            {
                Emit("{\"event\":\"error\",\"cmd\":\"search-hex\"}");
                continue;
            }
            dhcppacket packet;
            std::memcpy(&packet, bytes.data(), sizeof(packet));
            SendMessageToDevice(&packet);
        }
        else if (cmd == "slow")
        {
            int ms = 0;
            in >> ms;
            g_callbackDelayMs.store(ms);
        }
        else if (cmd == "threads")
        {
            std::ostringstream out;
            out << "{\"event\":\"threads\",\"next_port\":" << LibrarySearcher().NextCommandPort()
                << ",\"threads\":[";
            bool first = true;
            for (const Searcher::Worker& entry : LibrarySearcher().Workers())
            {
                out << (first ? "" : ",") << "{\"local_ip\":\"" << entry.localAddress
                    << "\",\"port\":" << entry.thread->GetPort()
                    << ",\"running\":" << (entry.thread->IsWorkerRunning() ? "true" : "false") << "}";
                first = false;
            }
            out << "]}";
            Emit(out.str());
        }
        else if (cmd == "exit")
        {
            search_dll_exit();
        }
        else if (cmd == "exit-wait")
        {
            auto start = std::chrono::steady_clock::now();
            search_dll_exit();
            bool stopped = false;
            while (!stopped && std::chrono::steady_clock::now() - start < std::chrono::seconds(10))
            {
                stopped = true;
                for (const Searcher::Worker& entry : LibrarySearcher().Workers())
                    stopped = stopped && !entry.thread->IsWorkerRunning();
                if (!stopped)
                    std::this_thread::sleep_for(std::chrono::microseconds(20));
            }
            auto micros = std::chrono::duration_cast<std::chrono::microseconds>(
                              std::chrono::steady_clock::now() - start)
                              .count();
            Emit("{\"event\":\"exit-wait\",\"micros\":" + std::to_string(micros) +
                 ",\"all_stopped\":" + (stopped ? "true" : "false") + "}");
        }
        else if (cmd == "quit")
        {
            Emit("{\"event\":\"ok\",\"cmd\":\"quit\"}");
            std::fflush(stdout);
            std::_Exit(0);
        }
        else if (cmd.empty())
        {
            continue;
        }
        else
        {
            Emit("{\"event\":\"error\",\"cmd\":\"" + Hex(cmd.data(), cmd.size()) + "\"}");
            continue;
        }
        Emit("{\"event\":\"ok\",\"cmd\":\"" + cmd + "\"}");
    }
    std::fflush(stdout);
    std::_Exit(0);
}
