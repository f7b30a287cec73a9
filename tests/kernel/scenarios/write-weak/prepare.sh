head -c $((0x70000)) /dev/urandom >image.bin
