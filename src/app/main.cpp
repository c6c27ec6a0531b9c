#include "KeelmarkApp.h"

int main(int argc, char **argv) {
    return KeelmarkApp::run(argc, argv);
}
