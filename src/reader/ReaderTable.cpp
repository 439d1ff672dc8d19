// The reader's function table and its one entry point.
#include <nimbex/reader.h>

#include "reader/ReaderHandlers.h"

namespace {

constexpr CloudReaderFunction kFunctions[] = {
    {0x1, cloud_reader::get_reader_name},
    {0x2, cloud_reader::get_media_name},
    {0x6, cloud_reader::clone_context},
    {0x7, cloud_reader::free_context},
    {0xC, cloud_reader::get_feature_bits},
    {0x12, cloud_reader::get_interface_version},
    {0x305, cloud_reader::get_reader_type},
    {0x1000, cloud_reader::create_context},
    {0x1001, cloud_reader::free_context},
    {0x2301, cloud_reader::lock_reader},
    {0x2302, cloud_reader::unlock_reader},
    {0x2303, cloud_reader::count_services},
    {0x2306, cloud_reader::set_machine_flag},
    {0x2307, cloud_reader::get_media_info},
    {0x2308, cloud_reader::set_media_param},
    {0x2309, cloud_reader::get_media_limits},
    {0x230A, cloud_reader::select_service},
    {0x230B, cloud_reader::negotiate_version},
    {0x230C, cloud_reader::set_callbacks},
    {0x2310, cloud_reader::get_description},
    {0x2311, cloud_reader::get_max_value},
    {0x3300, cloud_reader::get_service_name},
    {0x3302, cloud_reader::open_container_enum},
    {0x3303, cloud_reader::next_container},
    {0x3304, cloud_reader::close_container_enum},
    {0x3305, cloud_reader::open_container},
    {0x3306, cloud_reader::close_container},
    {0x3311, cloud_reader::get_default_container},
    {0x3312, cloud_reader::set_default_container},
    {0x3315, cloud_reader::list_param_sets},
    {0x5302, cloud_reader::drop_auth},
    {0x5308, cloud_reader::create_hash},
    {0x5309, cloud_reader::hash_data},
    {0x530A, cloud_reader::get_hash_value},
    {0x530B, cloud_reader::release_hash},
    {0x530C, cloud_reader::verify_pin},
    {0x6300, cloud_reader::delete_container},
    {0x6302, cloud_reader::open_file},
    {0x6303, cloud_reader::close_file},
    {0x6304, cloud_reader::flush_file},
    {0x630B, cloud_reader::change_pin},
    {0x7300, cloud_reader::read_file},
    {0x7301, cloud_reader::write_file},
    {0x7302, cloud_reader::set_file_size},
    {0x7303, cloud_reader::get_file_size},
    {0x7304, cloud_reader::generate_key},
    {0x7307, cloud_reader::sign_hash_split},
    {0x730C, cloud_reader::agree_key},
    {0x730D, cloud_reader::get_key_info},
    {0x730E, cloud_reader::release_key},
    {0x7311, cloud_reader::generate_rsa_key},
    {0x7312, cloud_reader::sign_hash},
    {0x7314, cloud_reader::get_rsa_key_range},
};

static_assert(sizeof(kFunctions) / sizeof(kFunctions[0]) == CLOUD_READER_FUNCTION_COUNT,
              "one entry per reader function");

constexpr bool AscendingIds() {
    for (size_t i = 1; i < sizeof(kFunctions) / sizeof(kFunctions[0]); ++i) {
        if (kFunctions[i - 1].id >= kFunctions[i].id) return false;
    }
    return true;
}
static_assert(AscendingIds(), "the table is sorted by ascending id");

const wchar_t kUndefined[] = L"UNDEFINED";

const CloudReaderTable kTable = {
    CLOUD_READER_FUNCTION_COUNT, kFunctions, kUndefined, kUndefined, {0, 0, 0, 0},
};

}  // namespace

extern "C" NIMBEX_EXPORT const CloudReaderTable* cloud_reader_get_table(void) {
    return &kTable;
}
