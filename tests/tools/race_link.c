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

/// What a mode does with each event: 0 to go on, 1 once it acted, -1 when that failed.
typedef int (*EventAction)(const struct inotify_event* event, void* mode);

/// Says "ready", then hands every event of `watcher` to `act` until it has acted or
/// failed, or until standard input ends, when it prints "events <n>" (the events seen).
static int watch(int watcher, EventAction act, void* mode, long* seen) {
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
            for (char* at = buffer; at < buffer + length;) {
                const struct inotify_event* event = (const struct inotify_event*)at;
                at += sizeof *event + event->len;
                if (event->mask & (IN_IGNORED | IN_Q_OVERFLOW)) {
                    continue;
                }
                const int acted = act(event, mode);
                if (acted != 0) {
                    return acted < 0 ? 1 : 0;
                }
            }
        }
        if (polled[1].revents & (POLLIN | POLLHUP)) {
            char c;
            if (read(STDIN_FILENO, &c, 1) <= 0) {
                printf("events %ld\n", *seen);
                return 0;
            }
        }
    }
}

/// The k-th step mode: the folder swapped for a link at the k-th event.
struct Swap {
    int watcher, above, inside;
    long k, seen;
    const char *folder, *name, *target;
};

static int swapAtStep(const struct inotify_event* event, void* mode) {
    struct Swap* swap = mode;
    const int aboutFolder =
        event->wd == swap->above && event->len > 0 && strcmp(event->name, swap->name) == 0;
    if (aboutFolder && swap->inside >= 0) {
        return 0;
    }
    if (aboutFolder && (event->mask & IN_CREATE)) {
        swap->inside = inotify_add_watch(swap->watcher, swap->folder, kWatched);
    }
    if (++swap->seen != swap->k) {
        return 0;
    }
    char aside[PATH_MAX];
    snprintf(aside, sizeof aside, "%s.moved", swap->folder);
    if (rename(swap->folder, aside) != 0 && errno != ENOENT) {
        return -fail("rename");
    }
    if (symlink(swap->target, swap->folder) != 0) {
        return -fail("symlink");
    }
    printf("acted %ld 0x%x\n", swap->seen, event->mask);
    return 1;
}

/// The --at-create mode: the new file replaced by a link the moment it appears.
struct Replace {
    const char *name, *how, *victim;
    char at[PATH_MAX];
};

static int replaceAtCreate(const struct inotify_event* event, void* mode) {
    struct Replace* replace = mode;
    if (event->len == 0 || strcmp(event->name, replace->name) != 0) {
        return 0;
    }
    if (unlink(replace->at) != 0) {
        return -fail("unlink");
    }
    const int linked = strcmp(replace->how, "symlink") == 0 ? symlink(replace->victim, replace->at)
                                                             : link(replace->victim, replace->at);
    if (linked != 0) {
        return -fail(replace->how);
    }
    printf("acted create\n");
    return 1;
}

int main(int argc, char** argv) {
    const int watcher = inotify_init1(IN_CLOEXEC);
    if (watcher < 0) {
        return fail("inotify");
    }
    if (argc == 6 && strcmp(argv[1], "--at-create") == 0) {
        struct Replace replace = {argv[3], argv[4], argv[5], {0}};
        snprintf(replace.at, sizeof replace.at, "%s/%s", argv[2], argv[3]);
        if (inotify_add_watch(watcher, argv[2], IN_CREATE | IN_ONLYDIR) < 0) {
            return fail(argv[2]);
        }
        long none = 0;
        return watch(watcher, replaceAtCreate, &replace, &none);
    }
    if (argc != 4) {
        fprintf(stderr, "usage: race-link <k> <folder> <link target>\n");
        return 2;
    }
    struct Swap swap = {watcher, -1, -1, strtol(argv[1], NULL, 10), 0, argv[2], NULL, argv[3]};
    char parent[PATH_MAX];
    snprintf(parent, sizeof parent, "%s", swap.folder);
    char* slash = strrchr(parent, '/');
    if (slash == NULL || slash == parent) {
        fprintf(stderr, "race-link: %s has no folder above it\n", swap.folder);
        return 2;
    }
    *slash = '\0';
    swap.name = slash + 1;
    swap.above = inotify_add_watch(watcher, parent, kWatched);
    if (swap.above < 0) {
        return fail(parent);
    }
    swap.inside = inotify_add_watch(watcher, swap.folder, kWatched);  // absent: made later
    return watch(watcher, swapAtStep, &swap, &swap.seen);
}
