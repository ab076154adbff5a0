// The executable only hands over to the application start-up.
#include "app/Application.h"

int main(int argc, char** argv) {
    return kallomir::RunApplication(argc, argv);
}
