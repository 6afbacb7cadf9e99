#include "VendraFwUpgrade.h"

int main() {
    return runVendraFwUpgrade();
}
