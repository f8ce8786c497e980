// GLib, GObject and GIO, opened on first use (libgio-2.0.so.0 brings the
// other two): only the shell calls, the notification icons and the Secret
// Service need them. Every entry point asks GioLibrary::Get() first and
// answers as it does without a desktop when it is null; code below an entry
// point that found it calls through Gio().
//
// GLib macros that expand to function calls (G_IO_ERROR, G_TYPE_*,
// G_IS_*, casts with checks, g_clear_object, g_signal_connect) would bind to
// the real symbols at link time: use the table and the helpers below.
#pragma once

#include <gio/gio.h>

#include "DynamicSymbols.h"

#define QV_GIO_FUNCTIONS(X)                                                                                     \
  X(g_, free) X(g_, error_free) X(g_, error_matches) X(g_, io_error_quark) X(g_, utf8_make_valid)               \
  X(g_, dbus_error_quark)                                                                                       \
  X(g_, get_monotonic_time) X(g_, get_home_dir) X(g_, get_user_cache_dir) X(g_, get_user_config_dir)            \
  X(g_, get_user_data_dir) X(g_, get_user_special_dir) X(g_, mkdir_with_parents) X(g_, filename_display_basename) \
  X(g_, main_context_new) X(g_, main_context_unref) X(g_, main_context_push_thread_default)                      \
  X(g_, main_context_pop_thread_default) X(g_, main_context_invoke_full) X(g_, main_loop_new)                    \
  X(g_, main_loop_run) X(g_, main_loop_quit) X(g_, main_loop_unref) X(g_, timeout_source_new)                    \
  X(g_, source_set_callback) X(g_, source_attach) X(g_, source_unref)                                           \
  X(g_, variant_new) X(g_, variant_new_array) X(g_, variant_new_boolean) X(g_, variant_new_byte)                \
  X(g_, variant_new_int32) X(g_, variant_new_string) X(g_, variant_new_strv) X(g_, variant_new_fixed_array)     \
  X(g_, variant_get) X(g_, variant_get_boolean) X(g_, variant_get_fixed_array) X(g_, variant_is_of_type)         \
  X(g_, variant_unref) X(g_, variant_ref_sink) X(g_, variant_iter_next) X(g_, variant_iter_free)               \
  X(g_, variant_builder_init) X(g_, variant_builder_add) X(g_, variant_builder_end)                             \
  X(g_, object_ref) X(g_, object_unref) X(g_, type_class_ref) X(g_, type_class_unref)                           \
  X(g_, type_check_instance_is_a) X(g_, signal_connect_data) X(g_, signal_handler_disconnect)                   \
  X(g_, cancellable_new) X(g_, cancellable_cancel) X(g_, socket_get_type)                                       \
  X(g_, content_type_guess) X(g_, content_type_get_description) X(g_, content_type_get_icon)                    \
  X(g_, themed_icon_get_type) X(g_, themed_icon_get_names)                                                      \
  X(g_, file_new_for_path) X(g_, file_query_info) X(g_, file_trash) X(g_, file_info_get_attribute_boolean)      \
  X(g_, file_info_get_content_type) X(g_, file_info_get_display_name) X(g_, file_info_get_file_type)            \
  X(g_, file_info_get_is_hidden) X(g_, file_info_get_is_symlink)                                                \
  X(g_, dbus_connection_new_for_address) X(g_, dbus_connection_new_for_address_finish)                          \
  X(g_, dbus_connection_new_for_address_sync) X(g_, dbus_connection_call) X(g_, dbus_connection_call_sync)      \
  X(g_, dbus_connection_emit_signal) X(g_, dbus_connection_is_closed) X(g_, dbus_connection_set_exit_on_close)  \
  X(g_, dbus_connection_register_object) X(g_, dbus_connection_unregister_object)                               \
  X(g_, dbus_connection_signal_subscribe) X(g_, dbus_connection_signal_unsubscribe)                             \
  X(g_, dbus_node_info_new_for_xml) X(g_, dbus_node_info_unref) X(g_, dbus_interface_info_ref)                  \
  X(g_, dbus_method_invocation_return_value) X(g_, dbus_connection_call_finish)

namespace quorvane {
namespace posix {

// Get() is null when libgio-2.0.so.0, or one of these functions, is missing.
QV_DYNAMIC_TABLE(GioLibrary, QV_GIO_FUNCTIONS);

// The table, once an entry point has found it.
inline const GioLibrary& Gio() { return *GioLibrary::Get(); }

// G_VARIANT_TYPE without its check of the (constant) type string.
inline const GVariantType* VariantType(const char* type) { return reinterpret_cast<const GVariantType*>(type); }

// g_clear_object.
template <class T>
void ClearObject(T** object) {
  if (T* old = *object) {
    *object = nullptr;
    Gio().object_unref(old);
  }
}

}  // namespace posix
}  // namespace quorvane
