// race-link: races a run of the programs for the end-to-end tests. It watches a folder and
// the folder above it with inotify and, at the k-th event there, puts a symbolic link to
// another folder at the watched folder's name, renaming the folder aside first when it
// exists: the swap an attacker makes while an elevated run is on its way to the backup.
// A folder that is made while it watches is watched as well. With k 0 it only counts.
//
// The events are the steps of a run: each open of the folder or of a name in it (Wine
// opens the folder at every lookup inside it) and each change there. Reads and closes
// without a write go with an open and are not counted; nor is what the folder above
// reports of the watched folder while that one is watched itself, which is the same step.
//
// Usage: race-link <k> <folder> <link target>
// It prints "ready" once it watches. It stops after acting, printing "acted <k> <mask>",
// or when its standard input ends, printing "events <n>": how many it saw.
//
// Usage: race-link --at-create <folder> <name> <symlink|hardlink> <victim>
// The swap an attacker makes on a file the run has just made: the moment <name> appears
// in <folder>, it is unlinked and a symbolic or hard link to <victim> takes its name.
// Prints "ready", then "acted create" once it swapped, or "events 0" when its standard
// input ends first.
#define _GNU_SOURCE
#include <errno.h>
#include <limits.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/inotify.h>
#include <unistd.h>

static const unsigned kWatched =
    (IN_ALL_EVENTS & ~(IN_ACCESS | IN_CLOSE_NOWRITE)) | IN_ONLYDIR | IN_DONT_FOLLOW;

static int fail(const char* what) {
    fprintf(stderr, "race-link: %s: %s\n", what, strerror(errno));
    return 1;
}

/// The --at-create mode: acts once, on the creation of `name` in `folder`.
static int swapAtCreate(const char* folder, const char* name, const char* how,
                        const char* victim) {
    const int watcher = inotify_init1(IN_CLOEXEC);
    if (watcher < 0 || inotify_add_watch(watcher, folder, IN_CREATE | IN_ONLYDIR) < 0) {
        return fail(folder);
    }
    char at[PATH_MAX];
    snprintf(at, sizeof at, "%s/%s", folder, name);
    printf("ready\n");
    fflush(stdout);
    char buffer[65536] __attribute__((aligned(__alignof__(struct inotify_event))));
    struct pollfd polled[2] = {{watcher, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
    for (;;) {
        if (poll(polled, 2, -1) < 0) {
            return fail("poll");
        }
        if (polled[0].revents & POLLIN) {
            const ssize_t length = read(watcher, buffer, sizeof buffer);
            if (length <= 0) {
                return fail("read");
            }
            for (char* p = buffer; p < buffer + length;) {
                const struct inotify_event* event = (const struct inotify_event*)p;
                p += sizeof *event + event->len;
                if (event->len == 0 || strcmp(event->name, name) != 0) {
                    continue;
                }
                if (unlink(at) != 0) {
                    return fail("unlink");
                }
                if ((strcmp(how, "symlink") == 0 ? symlink(victim, at) : link(victim, at)) != 0) {
                    return fail(how);
                }
                printf("acted create\n");
                return 0;
            }
        }
        if (polled[1].revents & (POLLIN | POLLHUP)) {
            char c;
            if (read(STDIN_FILENO, &c, 1) <= 0) {
                printf("events 0\n");
                return 0;
            }
        }
    }
}

int main(int argc, char** argv) {
    if (argc == 6 && strcmp(argv[1], "--at-create") == 0) {
        return swapAtCreate(argv[2], argv[3], argv[4], argv[5]);
    }
    if (argc != 4) {
        fprintf(stderr, "usage: race-link <k> <folder> <link target>\n");
        return 2;
    }
    const long k = strtol(argv[1], NULL, 10);
    const char* folder = argv[2];
    const char* target = argv[3];
    char parent[PATH_MAX];
    snprintf(parent, sizeof parent, "%s", folder);
    char* slash = strrchr(parent, '/');
    if (slash == NULL || slash == parent) {
        fprintf(stderr, "race-link: %s has no folder above it\n", folder);
        return 2;
    }
    *slash = '\0';
    const char* name = slash + 1;

    const int watcher = inotify_init1(IN_CLOEXEC);
    const int above = watcher < 0 ? -1 : inotify_add_watch(watcher, parent, kWatched);
    if (above < 0) {
        return fail(parent);
    }
    int inside = inotify_add_watch(watcher, folder, kWatched);  // absent: made later, perhaps
    printf("ready\n");
    fflush(stdout);

    long seen = 0;
    char buffer[65536] __attribute__((aligned(__alignof__(struct inotify_event))));
    struct pollfd polled[2] = {{watcher, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
    for (;;) {
        if (poll(polled, 2, -1) < 0) {
            return fail("poll");
        }
        if (polled[0].revents & POLLIN) {
            const ssize_t length = read(watcher, buffer, sizeof buffer);
            if (length <= 0) {
                return fail("read");
            }
            for (char* at = buffer; at < buffer + length;) {
                const struct inotify_event* event = (const struct inotify_event*)at;
                at += sizeof *event + event->len;
                if (event->mask & (IN_IGNORED | IN_Q_OVERFLOW)) {
                    continue;
                }
                const int aboutFolder =
                    event->wd == above && event->len > 0 && strcmp(event->name, name) == 0;
                if (aboutFolder && inside >= 0) {
                    continue;
                }
                if (aboutFolder && (event->mask & IN_CREATE)) {
                    inside = inotify_add_watch(watcher, folder, kWatched);
                }
                if (++seen != k) {
                    continue;
                }
                char aside[PATH_MAX];
                snprintf(aside, sizeof aside, "%s.moved", folder);
                if (rename(folder, aside) != 0 && errno != ENOENT) {
                    return fail("rename");
                }
                if (symlink(target, folder) != 0) {
                    return fail("symlink");
                }
                printf("acted %ld 0x%x\n", seen, event->mask);
                return 0;
            }
        }
        if (polled[1].revents & (POLLIN | POLLHUP)) {
            char c;
            if (read(STDIN_FILENO, &c, 1) <= 0) {
                printf("events %ld\n", seen);
                return 0;
            }
        }
    }
}
