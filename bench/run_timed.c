/* Runs one program as a web server would and times it: standard input from
 * a file (the request body), standard output and standard error to files,
 * the environment of this process passed on unchanged.
 *
 *   run_timed [-t SECONDS] [-m MIB] STDIN STDOUT STDERR PROGRAM [ARG...]
 *
 * Prints one line: wall-clock nanoseconds from the spawn to the end of the
 * child, the child's peak resident memory in KiB, its exit status (or 128
 * plus the signal that ended it), and its user and system CPU time in
 * microseconds. With -t a child still running after SECONDS is killed; with
 * -m its address space is limited to MIB mebibytes, so that a program whose
 * memory grows without bound fails instead of crowding the machine.
 *
 * The timing is done here rather than in the benchmark's Python: spawning
 * from this small process keeps the interpreter's own start-up and memory
 * out of the figures (the peak memory the kernel reports for a child counts
 * the memory of the process it was spawned from). */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

static volatile pid_t child;

static void KillChild(int signal_number) {
  (void)signal_number;
  if (child > 0) kill(child, SIGKILL);
}

static long long Nanoseconds(void) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (long long)now.tv_sec * 1000000000LL + now.tv_nsec;
}

static int Usage(void) {
  fprintf(stderr,
          "usage: run_timed [-t SECONDS] [-m MIB] STDIN STDOUT STDERR PROGRAM "
          "[ARG...]\n");
  return 2;
}

int main(int argc, char** argv) {
  unsigned timeout = 0;
  unsigned long limit_mib = 0;
  int option;
  while ((option = getopt(argc, argv, "+t:m:")) != -1) {
    switch (option) {
      case 't':
        timeout = (unsigned)strtoul(optarg, NULL, 10);
        break;
      case 'm':
        limit_mib = strtoul(optarg, NULL, 10);
        break;
      default:
        return Usage();
    }
  }
  argv += optind;
  if (argc - optind < 4) return Usage();

  if (limit_mib > 0) {
    /* Inherited by the child; this process needs little. */
    struct rlimit limit = {limit_mib << 20, limit_mib << 20};
    if (setrlimit(RLIMIT_AS, &limit) != 0) {
      perror("run_timed: setrlimit");
      return 1;
    }
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, argv[0], O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, argv[1],
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, argv[2],
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (timeout > 0) {
    struct sigaction on_alarm;
    memset(&on_alarm, 0, sizeof on_alarm);
    on_alarm.sa_handler = KillChild;
    sigaction(SIGALRM, &on_alarm, NULL);
  }

  const long long start = Nanoseconds();
  pid_t pid;
  int rc = posix_spawnp(&pid, argv[3], &actions, NULL, argv + 3, environ);
  if (rc != 0) {
    fprintf(stderr, "run_timed: cannot start %s: %s\n", argv[3], strerror(rc));
    return 1;
  }
  child = pid;
  if (timeout > 0) alarm(timeout);
  int status = 0;
  struct rusage usage;
  while (wait4(pid, &status, 0, &usage) < 0) {
    if (errno != EINTR) {
      perror("run_timed: wait4");
      return 1;
    }
  }
  const long long elapsed = Nanoseconds() - start;
  alarm(0);
  posix_spawn_file_actions_destroy(&actions);

  const int code =
      WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  printf("%lld %ld %d %lld %lld\n", elapsed, usage.ru_maxrss, code,
         (long long)usage.ru_utime.tv_sec * 1000000 + usage.ru_utime.tv_usec,
         (long long)usage.ru_stime.tv_sec * 1000000 + usage.ru_stime.tv_usec);
  return 0;
}
