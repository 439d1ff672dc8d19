/* A program built against the installed headers and module with pkg-config:
 * it reads the reader table and the connection time-out. */
#include <nimbex/management.h>
#include <nimbex/reader.h>
#include <stdio.h>

int main(void) {
    const CloudReaderTable* table = cloud_reader_get_table();
    uint16_t timeout = 0;
    const uint32_t result = KelGetConnectionTimeout(&timeout);
    printf("%lu %u %u\n", (unsigned long)(table ? table->count : 0), result, timeout);
    return table && result == 0 ? 0 : 1;
}
