#include "support.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <signal.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

TempDir::TempDir() {
    const char *base = getenv("TMPDIR");
    std::string tmpl = std::string(base != nullptr ? base : "/tmp") + "/nandkeep-test-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    m_path = buf.data();
}

TempDir::~TempDir() {
    std::string cmd = "rm -rf '" + m_path + "'";
    if (system(cmd.c_str()) != 0) {
        fprintf(stderr, "could not remove %s\n", m_path.c_str());
    }
}

RunResult Run(const std::vector<std::string> &argv, const std::map<std::string, std::string> &env,
              const std::string &in, size_t closeStdoutAfter) {
    int outPipe[2], errPipe[2], inPipe[2];
    if (pipe(outPipe) != 0 || pipe(errPipe) != 0 || pipe(inPipe) != 0) {
        throw std::runtime_error("pipe failed");
    }
    // A reader gone before the child writes anything: nobody holds the reading end.
    const bool bNoReader = closeStdoutAfter == NO_READER;
    if (bNoReader) {
        close(outPipe[0]);
    }
    pid_t pid = fork();
    if (pid < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid == 0) {
        dup2(inPipe[0], 0);
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        for (int fd : {outPipe[1], errPipe[0], errPipe[1], inPipe[0], inPipe[1]}) {
            close(fd);
        }
        if (!bNoReader) {
            close(outPipe[0]);
        }
        signal(SIGPIPE, SIG_DFL);
        for (const auto &kv : env) {
            setenv(kv.first.c_str(), kv.second.c_str(), 1);
        }
        std::vector<std::string> words =
            argv.empty() ? std::vector<std::string>() : LauncherFor(argv[0]);
        const bool bLaunched = !words.empty();
        words.insert(words.end(), argv.begin(), argv.end());
        std::vector<char *> args;
        for (const auto &a : words) {
            args.push_back(const_cast<char *>(a.c_str()));
        }
        args.push_back(nullptr);
        if (bLaunched) {
            execvp(args[0], args.data());
        } else {
            execv(args[0], args.data());
        }
        _exit(127);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    close(inPipe[0]);
    // Standard input is small in every test: hand it over whole and close.
    if (!in.empty() && write(inPipe[1], in.data(), in.size()) != static_cast<ssize_t>(in.size())) {
        fprintf(stderr, "short write to child's standard input\n");
    }
    close(inPipe[1]);

    RunResult result;
    bool outOpen = !bNoReader, errOpen = true;
    char buf[65536];
    while (outOpen || errOpen) {
        struct pollfd fds[2];
        int n = 0;
        if (outOpen) {
            fds[n++] = {outPipe[0], POLLIN, 0};
        }
        if (errOpen) {
            fds[n++] = {errPipe[0], POLLIN, 0};
        }
        if (poll(fds, static_cast<nfds_t>(n), -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        for (int i = 0; i < n; i++) {
            if ((fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) {
                continue;
            }
            ssize_t got = read(fds[i].fd, buf, sizeof(buf));
            bool isOut = fds[i].fd == outPipe[0];
            if (got <= 0) {
                close(fds[i].fd);
                (isOut ? outOpen : errOpen) = false;
                continue;
            }
            (isOut ? result.out : result.err).append(buf, static_cast<size_t>(got));
            if (isOut && closeStdoutAfter != 0 && result.out.size() >= closeStdoutAfter) {
                close(outPipe[0]);
                outOpen = false;
            }
        }
    }
    int wstatus = 0;
    while (waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(wstatus)) {
        result.status = WEXITSTATUS(wstatus);
    } else if (WIFSIGNALED(wstatus)) {
        result.signal = WTERMSIG(wstatus);
    }
    return result;
}

std::string SimBinary() {
    return NANDKEEP_SIM_BINARY;
}
std::string SimCtlBinary() {
    return NANDKEEP_SIMCTL_BINARY;
}
std::string ProdBinary() {
    return NANDKEEP_PROD_BINARY;
}

std::vector<std::string> LauncherFor(const std::string &program) {
    std::vector<std::string> words;
    const char *launcher = getenv("NANDKEEP_TEST_LAUNCHER");
    if (launcher == nullptr ||
        (program != SimBinary() && program != SimCtlBinary() && program != ProdBinary())) {
        return words;
    }
    std::istringstream launcherWords(launcher);
    for (std::string word; launcherWords >> word;) {
        words.push_back(word);
    }
    return words;
}

Bytes ReadFile(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    if (!f) {
        throw std::runtime_error("cannot read " + path);
    }
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string &path, const Bytes &data) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char *>(data.data()), static_cast<std::streamsize>(data.size()));
    if (!f) {
        throw std::runtime_error("cannot write " + path);
    }
}

void WriteText(const std::string &path, const std::string &text) {
    WriteFile(path, Bytes(text.begin(), text.end()));
}

std::string ReadText(const std::string &path) {
    Bytes b = ReadFile(path);
    return std::string(b.begin(), b.end());
}

Bytes RandomBytes(size_t len, uint64_t seed) {
    Bytes out(len);
    uint64_t x = seed * 0x9E3779B97F4A7C15ull + 1;
    for (size_t i = 0; i < len; i++) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        out[i] = static_cast<uint8_t>(x >> 24);
    }
    return out;
}

Bytes MakeImage(const std::string &path, const std::string &type, const Bytes &data) {
    std::string dataPath = path + ".data";
    WriteFile(dataPath, data);
    RunResult r = Run({"/usr/bin/mkimage", "-A", "arm64", "-O", "linux", "-T", type, "-C", "none",
                       "-a", "0", "-e", "0", "-n", "nandkeep-test", "-d", dataPath, path});
    unlink(dataPath.c_str());
    if (r.status != 0) {
        throw std::runtime_error("mkimage failed: " + r.err);
    }
    return ReadFile(path);
}

} // namespace testsupport
