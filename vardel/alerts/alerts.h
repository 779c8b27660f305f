#pragma once
// The alerts folder's interface for the main window: the alert store and its
// classification, the arrival of trap and state-change alerts, the log, the
// announcement and the notify window; the alert destination and the wait box.

#include "alert_arrival.h"
#include "alert_destination.h"
#include "alert_log.h"
#include "alert_record.h"
#include "alert_sound.h"
#include "alert_store.h"
#include "alert_text.h"
#include "notify_window.h"
#include "wait_box.h"
