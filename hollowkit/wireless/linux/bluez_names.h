#pragma once

// The D-Bus names of BlueZ's objects, shared by the backend and the fake
// BlueZ the tests serve, so both always speak the same interfaces.

namespace hollowkit::bluez {

inline constexpr const char* kService = "org.bluez";
inline constexpr const char* kObjectManager = "org.freedesktop.DBus.ObjectManager";
inline constexpr const char* kProperties = "org.freedesktop.DBus.Properties";
inline constexpr const char* kAdapter1 = "org.bluez.Adapter1";
inline constexpr const char* kDevice1 = "org.bluez.Device1";
inline constexpr const char* kGattService1 = "org.bluez.GattService1";
inline constexpr const char* kGattCharacteristic1 = "org.bluez.GattCharacteristic1";

}  // namespace hollowkit::bluez
