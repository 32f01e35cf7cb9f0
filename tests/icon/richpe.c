/* A small program that carries many kinds of resources; the icon tests
 * check that an icon update keeps them all. Exits 42 so a test can tell it
 * still runs. */
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command_line, int show) {
    (void)instance;
    (void)previous;
    (void)command_line;
    (void)show;
    return 42;
}
