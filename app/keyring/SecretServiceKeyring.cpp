// GLib's headers name things "signals", which Qt defines as a keyword: they come first.
#include <libsecret/secret.h>

#include "app/keyring/SecretServiceKeyring.h"

#include <QByteArray>

namespace {

const SecretSchema *Schema()
{
    static const SecretSchema schema = [] {
        SecretSchema made{};
        made.name = "org.morvate.Zandrel.Password";
        made.flags = SECRET_SCHEMA_NONE;
        made.attributes[0].name = "project";
        made.attributes[0].type = SECRET_SCHEMA_ATTRIBUTE_STRING;
        return made;
    }();
    return &schema;
}

// Takes the error's text and frees it.
QString TakeMessage(GError *error)
{
    const QString text = QString::fromUtf8(error->message);
    g_error_free(error);
    return text;
}

// Whether the session bus has the Secret Service running or can start it.
bool ServiceOnBus(GDBusConnection *bus, QString &why)
{
    GError *error = nullptr;
    GVariant *owned = g_dbus_connection_call_sync(
        bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "NameHasOwner", g_variant_new("(s)", "org.freedesktop.secrets"), G_VARIANT_TYPE("(b)"),
        G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, &error);
    if (!owned) {
        why = TakeMessage(error);
        return false;
    }
    gboolean hasOwner = FALSE;
    g_variant_get(owned, "(b)", &hasOwner);
    g_variant_unref(owned);
    if (hasOwner)
        return true;
    GVariant *names = g_dbus_connection_call_sync(
        bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "ListActivatableNames", nullptr, G_VARIANT_TYPE("(as)"), G_DBUS_CALL_FLAGS_NONE, 5000,
        nullptr, &error);
    if (!names) {
        why = TakeMessage(error);
        return false;
    }
    GVariantIter *iter = nullptr;
    const gchar *name = nullptr;
    bool activatable = false;
    g_variant_get(names, "(as)", &iter);
    while (!activatable && g_variant_iter_next(iter, "&s", &name))
        activatable = g_strcmp0(name, "org.freedesktop.secrets") == 0;
    g_variant_iter_free(iter);
    g_variant_unref(names);
    if (!activatable)
        why = QStringLiteral("no Secret Service on the session bus");
    return activatable;
}

} // namespace

bool TSecretServiceKeyring::Available(QString &why)
{
    if (!m_probed) {
        m_probed = true;
        GError *error = nullptr;
        GDBusConnection *bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
        if (!bus) {
            m_why = QStringLiteral("no D-Bus session: ") + TakeMessage(error);
        } else {
            // GLib ends the process when the session bus goes away; a keyring is not worth that.
            g_dbus_connection_set_exit_on_close(bus, FALSE);
            m_available = ServiceOnBus(bus, m_why);
            g_object_unref(bus);
        }
    }
    if (!m_available)
        why = m_why;
    return m_available;
}

TPasswordKeyring::TLookup TSecretServiceKeyring::Lookup(const QString &id, QString &password,
                                                        QString &error)
{
    GError *failure = nullptr;
    gchar *secret = secret_password_lookup_sync(Schema(), nullptr, &failure, "project",
                                                id.toUtf8().constData(), nullptr);
    if (failure) {
        error = TakeMessage(failure);
        return klFailed;
    }
    if (!secret)
        return klNotFound;
    password = QString::fromUtf8(secret);
    secret_password_free(secret);
    return klFound;
}

bool TSecretServiceKeyring::Store(const QString &id, const QString &label, const QString &password,
                                  QString &error)
{
    GError *failure = nullptr;
    QByteArray secret = password.toUtf8();
    const bool stored = secret_password_store_sync(
        Schema(), SECRET_COLLECTION_DEFAULT, label.toUtf8().constData(), secret.constData(),
        nullptr, &failure, "project", id.toUtf8().constData(), nullptr);
    secret.fill('\0');
    if (stored)
        return true;
    error = failure ? TakeMessage(failure) : QStringLiteral("the keyring refused the password");
    // One refusal is enough for a run: later saves keep the password in the file quietly.
    m_available = false;
    m_why = error;
    return false;
}

bool TSecretServiceKeyring::Remove(const QString &id, QString &error)
{
    GError *failure = nullptr;
    secret_password_clear_sync(Schema(), nullptr, &failure, "project", id.toUtf8().constData(),
                               nullptr);
    if (failure) {
        error = TakeMessage(failure);
        return false;
    }
    return true;
}
