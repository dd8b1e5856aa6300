#include "tests/audio/sound_server.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

bool on_path(const char *program) {
    const std::string command = std::string("command -v ") + program + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

}  // namespace

bool sound_server_installed() { return on_path("pulseaudio") && on_path("pactl"); }

bool sound_server_prepare(SoundServer *server, std::string *error) {
    const char *temporary = std::getenv("TMPDIR");
    std::string pattern = std::string(temporary && *temporary ? temporary : "/tmp") + "/halcyon-sound-XXXXXX";
    if (!mkdtemp(&pattern[0])) {
        *error = "cannot make a folder for the sound server";
        return false;
    }
    server->folder = pattern;
    setenv("XDG_RUNTIME_DIR", server->folder.c_str(), 1);
    setenv("PULSE_RUNTIME_PATH", (server->folder + "/pulse").c_str(), 1);
    setenv("HOME", server->folder.c_str(), 1);
    unsetenv("PULSE_SERVER");
    unsetenv("DISPLAY");  // libpulse would ask an X display for a server
    return true;
}

bool sound_server_start(SoundServer *server, std::string *error) {
    const std::string log = server->folder + "/server.log";
    const pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);  // a test killed mid-run takes its server with it
        const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        if (out >= 0) {
            dup2(out, 1);
            dup2(out, 2);
        }
        execlp("pulseaudio", "pulseaudio", "-n", "--daemonize=no", "--use-pid-file=no", "--exit-idle-time=-1",
               "--disallow-exit", "-L", "module-native-protocol-unix", "-L",
               "module-null-sink sink_name=out sink_properties=device.description=Speakers", "-L",
               "module-null-sink sink_name=hp sink_properties=device.description=Headphones", nullptr);
        _exit(127);
    }
    if (pid < 0) {
        *error = "cannot start pulseaudio";
        return false;
    }
    server->pid = pid;
    // Generous for a loaded machine: a start takes a fraction of a second when idle.
    for (int i = 0; i < 200; ++i) {
        if (waitpid(pid, nullptr, WNOHANG) == pid) {
            server->pid = -1;
            *error = "pulseaudio ended at its start; see " + log;
            return false;
        }
        if (sound_server_pactl(*server, "set-default-sink out")) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    *error = "pulseaudio did not answer within 20 s; see " + log;
    return false;
}

bool sound_server_pactl(const SoundServer &server, const std::string &arguments) {
    const std::string command = "pactl " + arguments + " >>" + server.folder + "/server.log 2>&1";
    return std::system(command.c_str()) == 0;
}

void sound_server_kill(SoundServer *server) {
    if (server->pid <= 0) return;
    kill(server->pid, SIGKILL);
    waitpid(server->pid, nullptr, 0);
    server->pid = -1;
}

void sound_server_stop(SoundServer *server) {
    if (server->pid > 0) {
        kill(server->pid, SIGTERM);
        bool ended = false;
        for (int i = 0; i < 50 && !ended; ++i) {
            ended = waitpid(server->pid, nullptr, WNOHANG) == server->pid;
            if (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        if (ended) server->pid = -1;
        sound_server_kill(server);  // still there after 5 s
    }
    if (!server->folder.empty() && server->folder.find("/halcyon-sound-") != std::string::npos)
        std::system(("rm -rf '" + server->folder + "'").c_str());
    server->folder.clear();
}
