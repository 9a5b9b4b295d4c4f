-- What the site keeps to show that the owner of an address asked for its
-- mails, and what it heard back: one row per registration (registrations.id).
-- Deleted with its registration (q_lok-admin notify: unconfirmed ones after
-- [registration] confirm_days, stopped ones after keep_stopped_days).
CREATE TABLE registration_consent (
  registration_id INTEGER PRIMARY KEY,
  -- When the registration was asked for; a registration made again while
  -- it waits for its confirmation keeps this time.
  made TIMESTAMP NOT NULL,
  -- When and how it was confirmed: 'link' (the manage page's button),
  -- 'site' ([registration] confirmation = none), 'earlier' (made before
  -- the site asked for confirmations); NULL while unconfirmed.
  confirmed TIMESTAMP,
  confirmed_how TEXT NOT NULL DEFAULT '',
  -- The request that made it: the client address, its user agent and the
  -- page it came from (Referer).
  client TEXT NOT NULL DEFAULT '',
  user_agent TEXT NOT NULL DEFAULT '',
  page TEXT NOT NULL DEFAULT '',
  -- Permanent delivery failures heard back, and why it was stopped when
  -- the site stopped it ('bounces').
  hard_bounces INTEGER NOT NULL DEFAULT 0,
  stop_reason TEXT NOT NULL DEFAULT ''
);
