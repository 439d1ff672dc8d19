#pragma once
#include <cstdint>

// The reader's handlers, one per function id of the table (free_context
// serves two ids). Each takes the reader context and the caller's argument
// record and returns a 32-bit code in a word; none throws.
namespace cloud_reader {

// Constant queries and no-ops (ConstantHandlers.cpp).
uintptr_t get_reader_name(void* context, void* record);
uintptr_t get_media_name(void* context, void* record);
uintptr_t get_feature_bits(void* context, void* record);
uintptr_t get_interface_version(void* context, void* record);
uintptr_t get_reader_type(void* context, void* record);
uintptr_t get_media_limits(void* context, void* record);
uintptr_t negotiate_version(void* context, void* record);
uintptr_t get_description(void* context, void* record);
uintptr_t get_max_value(void* context, void* record);
uintptr_t release_hash(void* context, void* record);
uintptr_t flush_file(void* context, void* record);
uintptr_t set_file_size(void* context, void* record);
uintptr_t release_key(void* context, void* record);

// Reader context, service selection and the cloud lock.
uintptr_t clone_context(void* context, void* record);
uintptr_t free_context(void* context, void* record);
uintptr_t create_context(void* context, void* record);
uintptr_t lock_reader(void* context, void* record);
uintptr_t unlock_reader(void* context, void* record);
uintptr_t count_services(void* context, void* record);
uintptr_t set_machine_flag(void* context, void* record);
uintptr_t get_media_info(void* context, void* record);
uintptr_t set_media_param(void* context, void* record);
uintptr_t select_service(void* context, void* record);
uintptr_t set_callbacks(void* context, void* record);
uintptr_t get_service_name(void* context, void* record);
uintptr_t get_default_container(void* context, void* record);
uintptr_t set_default_container(void* context, void* record);

// Container enumeration.
uintptr_t open_container_enum(void* context, void* record);
uintptr_t next_container(void* context, void* record);
uintptr_t close_container_enum(void* context, void* record);

// Containers and their files.
uintptr_t open_container(void* context, void* record);
uintptr_t close_container(void* context, void* record);
uintptr_t delete_container(void* context, void* record);
uintptr_t open_file(void* context, void* record);
uintptr_t close_file(void* context, void* record);
uintptr_t read_file(void* context, void* record);
uintptr_t write_file(void* context, void* record);
uintptr_t get_file_size(void* context, void* record);
uintptr_t get_key_info(void* context, void* record);

// PIN, document hashes, signing and key agreement.
uintptr_t drop_auth(void* context, void* record);
uintptr_t create_hash(void* context, void* record);
uintptr_t hash_data(void* context, void* record);
uintptr_t get_hash_value(void* context, void* record);
uintptr_t verify_pin(void* context, void* record);
uintptr_t change_pin(void* context, void* record);
uintptr_t sign_hash_split(void* context, void* record);
uintptr_t agree_key(void* context, void* record);
uintptr_t sign_hash(void* context, void* record);

// Key generation and the service's key policy.
uintptr_t list_param_sets(void* context, void* record);
uintptr_t generate_key(void* context, void* record);
uintptr_t generate_rsa_key(void* context, void* record);
uintptr_t get_rsa_key_range(void* context, void* record);

}  // namespace cloud_reader
