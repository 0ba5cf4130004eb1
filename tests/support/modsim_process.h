// Runs the module simulator as a process of its own and learns its port
// from the "READY <port>" line it prints once it listens.
#pragma once
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

namespace testing_support {

class ModsimProcess {
public:
    ModsimProcess(const std::string &program, std::vector<std::string> args)
    {
        int out[2];
        if (pipe(out) != 0)
            throw std::runtime_error("pipe");
        pid_ = fork();
        if (pid_ < 0)
            throw std::runtime_error("fork");
        if (pid_ == 0) {
            dup2(out[1], STDOUT_FILENO);
            close(out[0]);
            close(out[1]);
            std::vector<char *> argv;
            argv.push_back(const_cast<char *>(program.c_str()));
            for (std::string &a : args)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(program.c_str(), argv.data());
            _exit(127);
        }
        close(out[1]);
        output_ = fdopen(out[0], "r");
        char line[128] = {};
        if (!output_ || !std::fgets(line, sizeof line, output_) || std::sscanf(line, "READY %d", &port_) != 1) {
            stop();
            throw std::runtime_error("modsim did not start: " + std::string(line));
        }
    }
    ~ModsimProcess() { stop(); }
    ModsimProcess(const ModsimProcess &) = delete;
    ModsimProcess &operator=(const ModsimProcess &) = delete;

    uint16_t port() const { return static_cast<uint16_t>(port_); }

    void stop()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
        if (output_) {
            std::fclose(output_);
            output_ = nullptr;
        }
    }

private:
    pid_t pid_ = -1;
    FILE *output_ = nullptr;
    int port_ = 0;
};

} // namespace testing_support
