head -c $((0x20000)) /dev/urandom >block.bin
