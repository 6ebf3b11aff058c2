#include "support/sim_machine.h"

#include <fstream>

SectorBytes SimMachine::sector(int number, uint64_t lba) const {
    SectorBytes bytes(512, 0);
    std::ifstream in(image(number), std::ios::binary);
    in.seekg(static_cast<std::streamoff>(lba * 512));
    in.read(reinterpret_cast<char*>(bytes.data()), 512);
    return bytes;
}

void SimMachine::putSector(int number, uint64_t lba, const SectorBytes& bytes) {
    std::fstream out(image(number), std::ios::binary | std::ios::in | std::ios::out);
    out.seekp(static_cast<std::streamoff>(lba * 512));
    out.write(reinterpret_cast<const char*>(bytes.data()), 512);
}
