#pragma once
// The alerts folder's interface for the main window: the alert store and its
// classification, the arrival of trap and state-change alerts, the log, the
// announcement and the notify window; the alert destination and the wait box.

#include "vardel/alerts/alert_arrival.h"
#include "vardel/alerts/alert_destination.h"
#include "vardel/alerts/alert_log.h"
#include "vardel/alerts/alert_record.h"
#include "vardel/alerts/alert_sound.h"
#include "vardel/alerts/alert_store.h"
#include "vardel/alerts/alert_text.h"
#include "vardel/alerts/notify_window.h"
#include "vardel/alerts/wait_box.h"
