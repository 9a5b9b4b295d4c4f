-- The registrations for the daily job-match mail, and what the daily run
-- keeps to send every job to a registration at most once. The search page
-- writes registrations and reads the newest job serial; the operator tool
-- writes the rest. Date-times are written '2026-12-09 12:00:00' (local
-- time).

-- One registration per address and registration number (1 to 5); the same
-- address and number again replace its conditions.
CREATE TABLE registrations (
  id INTEGER PRIMARY KEY,
  address TEXT NOT NULL,
  number INTEGER NOT NULL CHECK (number BETWEEN 1 AND 5),
  -- The registration record: the request's settings as name=value lines
  -- (CR LF), from which the search is rebuilt.
  settings TEXT NOT NULL,
  daily_maximum INTEGER NOT NULL CHECK (daily_maximum BETWEEN 1 AND 100),
  created TIMESTAMP NOT NULL,
  changed TIMESTAMP NOT NULL,
  active INTEGER NOT NULL DEFAULT 1 CHECK (active IN (0, 1)),
  stopped TIMESTAMP,
  -- The key of the links in mails is a token of 32 hexadecimal digits (128
  -- random bits), never stored as it is: this is its SHA-256 (64
  -- hexadecimal digits), and token_sealed the token sealed under the
  -- site's token key (pw/token_key), from which the daily mail's links are
  -- made.
  token TEXT NOT NULL UNIQUE,
  token_sealed TEXT NOT NULL DEFAULT '',
  -- The high-water mark: jobs whose serial (seen_jobs) is at most this
  -- have been sent or were there when the registration was made.
  mark INTEGER NOT NULL DEFAULT 0,
  -- Fingerprints of the jobs of the first match mail that the mark does
  -- not cover yet, separated by blanks.
  sent_jobs TEXT NOT NULL DEFAULT '',
  last_mailed TIMESTAMP,
  UNIQUE (address, number)
);

-- Every job content the site has shown, numbered in the order it was first
-- seen; a job reloaded unchanged keeps its serial. gone_since: when the
-- daily run first found it missing from the job table (NULL while it is
-- there); it is forgotten 60 days later.
CREATE TABLE seen_jobs (
  serial INTEGER PRIMARY KEY,
  fingerprint TEXT NOT NULL UNIQUE,
  first_seen TIMESTAMP NOT NULL,
  gone_since TIMESTAMP
);

-- How often an address asked for the list of its registrations, per day.
CREATE TABLE address_lookups (
  address TEXT NOT NULL,
  day DATE NOT NULL,
  lookups INTEGER NOT NULL,
  PRIMARY KEY (address, day)
);
