#include "native/encoder_process.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

std::atomic<pid_t> g_running{-1};  // the group a signal handler kills

void sleep_a_little() {
    const timespec pause = {0, 10 * 1000 * 1000};
    nanosleep(&pause, nullptr);
}

bool reap(EncoderProcess *encoder, bool wait) {
    if (encoder->pid < 0) return true;
    int status = 0;
    pid_t done;
    do done = waitpid(encoder->pid, &status, wait ? 0 : WNOHANG);
    while (done < 0 && errno == EINTR);
    if (done == 0) return false;
    encoder->status = done == encoder->pid ? status : -1;
    g_running.store(-1);
    encoder->pid = -1;
    return true;
}

// name looked up in PATH as a shell would; "" when it is nowhere.
std::string program_path(const std::string &name) {
    if (name.find('/') != std::string::npos) return access(name.c_str(), X_OK) == 0 ? name : "";
    const char *path = getenv("PATH");
    std::string folders = path && *path ? path : "/usr/local/bin:/usr/bin:/bin";
    size_t from = 0;
    while (from <= folders.size()) {
        size_t to = folders.find(':', from);
        if (to == std::string::npos) to = folders.size();
        const std::string folder = to > from ? folders.substr(from, to - from) : ".";
        const std::string candidate = folder + "/" + name;
        struct stat info;
        if (stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(candidate.c_str(), X_OK) == 0)
            return candidate;
        from = to + 1;
    }
    return "";
}

void close_input(EncoderProcess *encoder) {
    if (encoder->input >= 0) close(encoder->input);
    encoder->input = -1;
}

}  // namespace

bool encoder_available(std::string *error) {
    if (!program_path("ffmpeg").empty()) return true;
    *error = "ffmpeg is not installed (apt-get install ffmpeg)";
    return false;
}

bool encoder_start(const std::vector<std::string> &argv, int keep_fd, EncoderProcess *encoder, std::string *error) {
    int feed[2];
    if (pipe2(feed, O_CLOEXEC) != 0) {
        *error = std::string("cannot make a pipe for ffmpeg: ") + std::strerror(errno);
        return false;
    }
    // A 1 MB pipe holds a whole small frame, so drawing goes on while ffmpeg takes the last one.
    fcntl(feed[1], F_SETPIPE_SZ, 1 << 20);
    const int messages = memfd_create("encoder-messages", MFD_CLOEXEC);
    const std::string program = program_path(argv[0]);
    if (program.empty()) {
        close(feed[0]);
        close(feed[1]);
        if (messages >= 0) close(messages);
        *error = "ffmpeg is not installed (apt-get install ffmpeg)";
        return false;
    }
    std::vector<char *> args;
    for (const std::string &arg : argv) args.push_back(const_cast<char *>(arg.c_str()));
    args.push_back(nullptr);
    int report[2];  // the exec's failure, if any, comes back through it
    if (pipe2(report, O_CLOEXEC) != 0) report[0] = report[1] = -1;
    const pid_t parent = getpid();
    // No stop signal may run this process's handler in the child before exec.
    sigset_t stops, previous;
    sigemptyset(&stops);
    for (int number : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stops, number);
    pthread_sigmask(SIG_BLOCK, &stops, &previous);
    const pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(127);
        // A starter's ignored SIGHUP (nohup) stays ignored; the handlers give way to the defaults.
        for (int number : {SIGINT, SIGTERM, SIGHUP}) {
            struct sigaction now = {};
            if (sigaction(number, nullptr, &now) == 0 && now.sa_handler != SIG_IGN) signal(number, SIG_DFL);
        }
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        dup2(feed[0], 0);
        const int null = open("/dev/null", O_WRONLY);
        if (null >= 0) dup2(null, 1);
        dup2(messages >= 0 ? messages : null, 2);
        if (keep_fd >= 0) fcntl(keep_fd, F_SETFD, 0);
        execv(program.c_str(), args.data());  // no lookup in the child: it may not allocate
        const int reason = errno;
        if (report[1] >= 0) (void)!write(report[1], &reason, sizeof reason);
        _exit(127);
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    close(feed[0]);
    if (report[1] >= 0) close(report[1]);
    if (pid < 0) {
        *error = std::string("cannot start ffmpeg: ") + std::strerror(errno);
        close(feed[1]);
        if (messages >= 0) close(messages);
        if (report[0] >= 0) close(report[0]);
        return false;
    }
    setpgid(pid, pid);  // also here, so no signal finds it in ours before the child ran
    encoder->pid = pid;
    encoder->input = feed[1];
    encoder->messages = messages;
    g_running.store(pid);
    int reason = 0;
    ssize_t got = -1;
    if (report[0] >= 0) {
        do got = read(report[0], &reason, sizeof reason);
        while (got < 0 && errno == EINTR);
        close(report[0]);
    }
    if (got == ssize_t(sizeof reason)) {
        reap(encoder, true);
        close_input(encoder);
        *error = reason == ENOENT ? "ffmpeg is not installed (apt-get install ffmpeg)"
                                  : std::string("cannot start ffmpeg: ") + std::strerror(reason);
        return false;
    }
    return true;
}

bool encoder_write(EncoderProcess *encoder, const void *bytes, size_t size) {
    const uint8_t *at = static_cast<const uint8_t *>(bytes);
    while (size > 0) {
        const ssize_t done = write(encoder->input, at, size);
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) return false;
        at += done;
        size -= size_t(done);
    }
    return true;
}

bool encoder_write_rows(EncoderProcess *encoder, const uint8_t *const *rows, int count, size_t row_bytes) {
    constexpr int kBatch = 512;  // under IOV_MAX
    iovec parts[kBatch];
    for (int first = 0; first < count; first += kBatch) {
        const int n = count - first < kBatch ? count - first : kBatch;
        for (int i = 0; i < n; ++i) parts[i] = {const_cast<uint8_t *>(rows[first + i]), row_bytes};
        int next = 0;
        while (next < n) {
            const ssize_t done = writev(encoder->input, parts + next, n - next);
            if (done < 0 && errno == EINTR) continue;
            if (done <= 0) return false;
            size_t left = size_t(done);
            while (next < n && left >= parts[next].iov_len) left -= parts[next++].iov_len;
            if (next < n && left > 0) {  // a part written in part: the rest goes on its own
                if (!encoder_write(encoder, static_cast<uint8_t *>(parts[next].iov_base) + left,
                                   parts[next].iov_len - left))
                    return false;
                ++next;
            }
        }
    }
    return true;
}

bool encoder_finish(EncoderProcess *encoder, bool (*stop_asked)()) {
    close_input(encoder);
    // The trailer of a long video takes a while (the index moved to the front): a stop meanwhile
    // must not wait for it.
    while (stop_asked && !reap(encoder, false)) {
        if (stop_asked()) {
            encoder_stop(encoder, 0);
            return false;
        }
        sleep_a_little();
    }
    reap(encoder, true);
    return WIFEXITED(encoder->status) && WEXITSTATUS(encoder->status) == 0;
}

void encoder_stop(EncoderProcess *encoder, double grace_seconds) {
    close_input(encoder);
    for (double waited = 0; waited < grace_seconds; waited += 0.01) {
        if (reap(encoder, false)) return;
        sleep_a_little();
    }
    if (encoder->pid > 0) kill(-encoder->pid, SIGKILL);
    reap(encoder, true);
}

void encoder_kill_now() {
    const pid_t pid = g_running.load();
    if (pid > 0) kill(-pid, SIGKILL);
}

std::string encoder_last_message(const EncoderProcess &encoder) {
    if (encoder.messages < 0) return "";
    char tail[4096];
    const off_t size = lseek(encoder.messages, 0, SEEK_END);
    const off_t from = size > off_t(sizeof tail) ? size - off_t(sizeof tail) : 0;
    const ssize_t got = pread(encoder.messages, tail, sizeof tail, from);
    if (got <= 0) return "";
    std::string text(tail, size_t(got));
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
    const size_t line = text.find_last_of('\n');
    return line == std::string::npos ? text : text.substr(line + 1);
}
