{
    echo "# temporary configuration"
    for i in $(seq 1 30); do
        echo "temp$i=$RANDOM"
    done
} >tempconf.txt
# Temporary data longer than one block, so its record runs on into the next block.
head -c $((0x2A001)) /dev/urandom >tempdata.bin
head -c 777 /dev/urandom >nfdi.bin
