/* Holds a file open as a virus scanner or a backup agent does: reading, and letting others
 * only read, so that nobody can replace or delete it meanwhile. Prints "held" once it has
 * the file and "released" once it has let go.
 *   holdfile.exe PATH MILLISECONDS */
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>
#include <windows.h>

int wmain(int argc, wchar_t **argv)
{
    HANDLE file;
    if (argc != 3) {
        fputs("usage: holdfile.exe PATH MILLISECONDS\n", stderr);
        return 2;
    }
    file = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "cannot open the file: error %lu\n", GetLastError());
        return 1;
    }
    puts("held");
    fflush(stdout);
    Sleep((DWORD)wcstoul(argv[2], NULL, 10));
    CloseHandle(file);
    puts("released");
    fflush(stdout);
    return 0;
}
