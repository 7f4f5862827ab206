/* A stand-in for xdg-open, first on PATH in a test: it appends to the file
 * named by NASFINDER_TEST_OPENED the URL it was asked to open, the
 * descriptors it inherited ("fds: 0 1 2") and its capability sets, as the
 * browser that xdg-open starts would have them. */
#define _GNU_SOURCE
#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(int argc, char** argv)
{
    const char* path = getenv("NASFINDER_TEST_OPENED");
    FILE* out = path != NULL ? fopen(path, "a") : NULL;
    if (out == NULL)
        return 3;
    fprintf(out, "url: %s\nfds:", argc > 1 ? argv[1] : "");
    DIR* fds = opendir("/proc/self/fd");
    struct dirent* entry;
    while (fds != NULL && (entry = readdir(fds)) != NULL)
    {
        const int fd = atoi(entry->d_name);
        /* Its own: the listing and the record. */
        if (entry->d_name[0] != '.' && fd != dirfd(fds) && fd != fileno(out))
            fprintf(out, " %d", fd);
    }
    fputc('\n', out);
    if (fds != NULL)
        closedir(fds);
    FILE* status = fopen("/proc/self/status", "r");
    char line[512];
    while (status != NULL && fgets(line, sizeof(line), status) != NULL)
    {
        if (strncmp(line, "CapPrm", 6) == 0 || strncmp(line, "CapEff", 6) == 0)
            fputs(line, out);
    }
    if (status != NULL)
        fclose(status);
    return fclose(out) == 0 ? 0 : 3;
}
