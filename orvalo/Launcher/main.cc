#include "orvalo/Launcher/Launcher.h"

int main(int argc, char** argv) { return LauncherMain(argc, argv); }
