/* A toolkit module as a user may name one in ~/.config/gtk-3.0/settings.ini
 * (gtk-modules=): the moment it is loaded, it writes the capability sets of
 * the process that loaded it into "marker" beside itself, and a line
 * "port 67: fd N" for every descriptor of the process bound to UDP port 67,
 * which it could send from as a DHCP server would. */
#define _GNU_SOURCE
#include <dirent.h>
#include <dlfcn.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>

static void record_port_67(FILE* marker)
{
    DIR* fds = opendir("/proc/self/fd");
    struct dirent* entry;
    while (fds != NULL && (entry = readdir(fds)) != NULL)
    {
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9')
            continue;
        const int fd = atoi(entry->d_name);
        struct sockaddr_in local;
        socklen_t length = sizeof(local);
        int type = 0;
        socklen_t typeLength = sizeof(type);
        if (getsockname(fd, (struct sockaddr*)&local, &length) == 0 && local.sin_family == AF_INET &&
            ntohs(local.sin_port) == 67 && getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &typeLength) == 0 &&
            type == SOCK_DGRAM)
            fprintf(marker, "port 67: fd %d\n", fd);
    }
    if (fds != NULL)
        closedir(fds);
}

__attribute__((constructor)) static void record_capabilities(void)
{
    Dl_info self;
    if (dladdr((void*)&record_capabilities, &self) == 0 || self.dli_fname == NULL)
        return;
    char path[4096];
    snprintf(path, sizeof(path), "%s", self.dli_fname);
    char* slash = strrchr(path, '/');
    if (slash == NULL)
        return;
    snprintf(slash + 1, sizeof(path) - (size_t)(slash + 1 - path), "marker");
    FILE* status = fopen("/proc/self/status", "r");
    FILE* marker = fopen(path, "w");
    char line[512];
    while (status != NULL && marker != NULL && fgets(line, sizeof(line), status) != NULL)
    {
        if (strncmp(line, "Cap", 3) == 0)
            fputs(line, marker);
    }
    if (marker != NULL)
        record_port_67(marker);
    if (status != NULL)
        fclose(status);
    if (marker != NULL)
        fclose(marker);
}

/* The toolkit looks this up once the module is loaded. */
void gtk_module_init(int* argc, char*** argv);
void gtk_module_init(int* argc, char*** argv)
{
    (void)argc;
    (void)argv;
}
