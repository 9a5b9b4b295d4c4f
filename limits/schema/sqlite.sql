-- What the site has mailed or accepted lately, one row per event, for its
-- limits: first match mails per address, registrations per client, list
-- mails per address. `counted` is the normalised address or the client
-- key. Rows older than a day are removed as new ones are counted.
CREATE TABLE send_counts (
  id INTEGER PRIMARY KEY,
  kind TEXT NOT NULL,
  counted TEXT NOT NULL,
  at TIMESTAMP NOT NULL
);
CREATE INDEX send_counts_counted ON send_counts (kind, counted, at);
CREATE INDEX send_counts_at ON send_counts (at);
