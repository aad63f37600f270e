#include "ctl/ctl_commands.h"

int main(int argc, char** argv) { return km27::ctl::Main(argc, argv); }
