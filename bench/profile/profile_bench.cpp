// Load and save of a console file with 10,000 servers, shaped as rlaweb.ini.
// Run: build/bench/profile_bench [--benchmark_filter=...]
#include "platform/profile/profile.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kServers = 10000;

std::string serverName(int i) {
    return "SRV" + std::to_string(i);
}

// The file the first console writes on OK: [CLIENT1] joins after the first
// server's section, the other servers' sections follow it.
std::string consoleFile() {
    std::string s = "[CLIENTS]\r\nHostname=CONSOLE1\r\nIPAddres=10.1.1.5\r\nNumClients=1\r\n"
                    "CONSOLE1=CLIENT1\r\nLastClient=CONSOLE1\r\n[ServerInfo]\r\nNumServers=" +
                    std::to_string(kServers) + "\r\n[SERVERS]\r\n";
    for (int i = 0; i < kServers; ++i)
        s += serverName(i) + "=1\r\n";
    auto serverSection = [](int i) {
        return "[" + serverName(i) + "]\r\nNOS=" + (i % 2 ? "NetWare" : "NT") + "\r\nIP=10.1." +
               std::to_string(i / 256) + "." + std::to_string(i % 256) +
               "\r\nIPX=" + (i % 2 ? "D5533216-0000000000" + std::to_string(i % 100) : "") +
               "\r\nSNMP_COMMUNITY=public\r\n";
    };
    s += serverSection(0);
    s += "[CLIENT1]\r\n";
    for (int i = 0; i < kServers; ++i)
        s += serverName(i) + "=" + (i % 3 ? "1" : "-1") + "\r\n";
    for (int i = 1; i < kServers; ++i)
        s += serverSection(i);
    s += "[VDINFO]\r\nRETRY=7\r\nPOLLTIME=3\r\n";
    return s;
}

const std::string& text() {
    static const std::string t = consoleFile();
    return t;
}

std::string benchDir() {
    static std::string dir = [] {
        char tmpl[] = "/tmp/vardel-bench-XXXXXX";
        return std::string(mkdtemp(tmpl)) + "/";
    }();
    return dir;
}

void writeRaw(const std::string& path, const std::string& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

void BM_Parse(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(profile::Document::parse(text()));
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(text().size()));
}

void BM_Serialize(benchmark::State& state) {
    const auto doc = profile::Document::parse(text());
    for (auto _ : state)
        benchmark::DoNotOptimize(doc.serialize());
}

// Reading the file from disk and parsing it (the cache is made stale each time).
void BM_LoadFromDisk(benchmark::State& state) {
    const std::string path = benchDir() + "load.ini";
    for (auto _ : state) {
        state.PauseTiming();
        ::unlink(path.c_str());
        writeRaw(path, text());
        state.ResumeTiming();
        benchmark::DoNotOptimize(profile::load(path));
    }
}

// One atomic replacement: write, fsync, rename, fsync of the directory.
void BM_Save(benchmark::State& state) {
    const std::string path = benchDir() + "save.ini";
    const auto doc = profile::Document::parse(text());
    for (auto _ : state)
        if (!profile::save(path, doc))
            state.SkipWithError("save failed");
}

// LoadServerList through single calls: the key list, then five reads per server.
void BM_LoadServerListCalls(benchmark::State& state) {
    const std::string path = benchDir() + "calls.ini";
    writeRaw(path, text());
    ::usleep(100000); // past the clock tick of the write, as a console's file normally is
    for (auto _ : state) {
        const int count = profile::getInt(path, "ServerInfo", "NumServers", 0);
        const auto names = profile::sectionKeys(path, "SERVERS", std::size_t(count) * 50);
        std::size_t total = 0;
        for (const auto& name : names) {
            total += profile::getString(path, name, "NOS", "", 20).size();
            total += profile::getString(path, name, "IP", "", 50).size();
            total += profile::getString(path, name, "IPX", "", 50).size();
            total += profile::getString(path, name, "SNMP_COMMUNITY", "", 20).size();
            total += std::size_t(profile::getInt(path, "CLIENT1", name, -1));
        }
        benchmark::DoNotOptimize(total);
    }
}

// Saving on OK as one transaction: clear the server sections, write the list and the settings.
void BM_SaveOnOkTransaction(benchmark::State& state) {
    const std::string path = benchDir() + "ok.ini";
    std::vector<std::string> names;
    for (int i = kServers - 1; i >= 0; --i)
        names.push_back(serverName(i));
    for (auto _ : state) {
        state.PauseTiming();
        writeRaw(path, text());
        state.ResumeTiming();
        profile::Transaction t(path);
        auto& d = t.doc();
        const int count = d.getInt("ServerInfo", "NumServers", 0);
        for (const auto& name : d.sectionKeys("SERVERS", std::size_t(count) * 50))
            d.deleteSection(name);
        d.deleteSection("SERVERS");
        d.deleteKey("ServerInfo", "NumServers");
        d.writeString("ServerInfo", "NumServers", std::to_string(names.size()));
        for (std::size_t i = 0; i < names.size(); ++i) {
            d.writeString("SERVERS", names[i], "1");
            d.writeString(names[i], "NOS", "NT");
            d.writeString(names[i], "IP", "10.2.0." + std::to_string(i % 256));
            d.writeString(names[i], "IPX", "");
            d.writeString(names[i], "SNMP_COMMUNITY", "public");
            d.writeString("CLIENT1", names[i], "1");
        }
        d.writeString("VDINFO", "RETRY", "7");
        d.writeString("VDINFO", "POLLTIME", "3");
        d.writeString("CLIENTS", "LastClient", "CONSOLE1");
        if (!t.commit())
            state.SkipWithError("commit failed");
    }
}

} // namespace

BENCHMARK(BM_Parse)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Serialize)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadFromDisk)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Save)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadServerListCalls)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveOnOkTransaction)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    std::printf("console file: %d servers, %zu bytes\n", kServers, text().size());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    std::printf("peak resident memory: %ld MB\n", usage.ru_maxrss / 1024);
    std::string cleanup = "rm -rf " + benchDir();
    return std::system(cleanup.c_str()) == 0 ? 0 : 1;
}
