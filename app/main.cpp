/*
 * main.cpp -- the program's entry: start the engine, load and show the main
 * panel, connect, run the event loop until Quit, close the connection.
 * Exit code 0 after the event loop, -1 (255) when the engine cannot start
 * (no display) or the main panel cannot be loaded.
 */
#include <stddef.h>

#include "ascii_module.h"
#include "platform.h"

int main(int argc, char *argv[])
{
    (void)argc;
    if (InitRuntimeEngine(NULL, argv, 0) == 0)
        return -1;
    if (AsciiStartup() < 0)
        return -1;
    RunUserInterface();
    CloseChamberConnection();
    return 0;
}
