'use strict';
// What a scenario is made of. The variables a run reads, and the protocols
// linksim-arq holds, are linksim-arq's own table (kit/variables.h), which
// the engine gives the page as it starts (Engine.table): each variable's
// name, the protocols that read it, its type, range, default and one line
// of help, and as LINKSIM_ARQ's choices the protocols' names. The page adds
// only what is its own: the words each protocol's diagram uses for what its
// nodes do (those of the timeline study), and the eight link settings,
// whose keys and defaults are those of examples/link.txt, built into the
// page. The controls, the address and "Copy as command" are all made from
// these.

/// The variables the page gives a meaning of its own: the protocols to run,
/// the frames a click loses, and the files every run writes, named as its
/// command names them.
const LAB_ARQ = 'LINKSIM_ARQ';
const LAB_DROP = 'LINKSIM_DROP';
const LAB_FILES = {trace: 'LINKSIM_TRACE', stats: 'LINKSIM_STATS'};

/// The words for a trace of a protocol the page has no words of.
const LAB_ANY_PROTOCOL = {
  name: '', title: 'A trace',
  words: {
    ack: 'ACK', timeout: 'timeout', discard: 'discarded', buffer: 'buffered',
  },
};

/// The diagram's words for linksim-arq's protocols, by name: what the
/// legend and the labels show. A protocol not here gets LAB_ANY_PROTOCOL's.
const LAB_PROTOCOL_WORDS = {
  'stop-and-wait': {
    title: 'Stop-and-wait',
    words: {
      ack: 'ACK (of that frame)', timeout: 'timeout (that frame again)',
      discard: 'discarded (a duplicate)', buffer: 'buffered',
    },
  },
  'go-back-n': {
    title: 'Go-Back-N',
    words: {
      ack: 'ACK (cumulative)', timeout: 'timeout (go back)',
      discard: 'discarded (a duplicate, or out of order)', buffer: 'buffered',
    },
  },
  'selective-repeat': {
    title: 'Selective Repeat',
    words: {
      ack: 'ACK (of that frame alone)',
      timeout: 'timeout (that frame alone again)',
      discard: 'discarded (a duplicate)', buffer: 'buffered (kept for later)',
    },
  },
  'sliding-window': {
    title: 'Sliding window',
    words: {
      ack: 'ACK (of that packet)', timeout: 'timeout', discard: 'discarded',
      buffer: 'buffered',
    },
  },
};

/// linksim-arq's protocols, {name, title, words}, in its list's order, and
/// the one it runs when LINKSIM_ARQ is unset: filled by labReadTable.
const LAB_PROTOCOLS = [];
let labUnsetProtocol = '';

/// The variables the controls show, in the table's order: its rows but
/// LINKSIM_ARQ (the protocol menus) and the files (the page names them).
/// Each {name, readers, type, range, choices (a choice's), default, help},
/// as the table has it. The page never checks a value itself: the program
/// refuses a bad one with its own message. Filled by labReadTable.
const LAB_VARIABLES = [];

/// Every variable's name in the table's order, LINKSIM_ARQ among them.
const LAB_ORDER = [];

/// Fills the tables above from `rows`, linksim-arq's table as its JSON
/// gives it; `rows` must have LINKSIM_ARQ, whose choices are the protocols.
function labReadTable(rows) {
  const arq = rows.find((row) => row.name === LAB_ARQ);
  LAB_PROTOCOLS.length = 0;
  for (const name of arq.choices) {
    const known = LAB_PROTOCOL_WORDS[name];
    LAB_PROTOCOLS.push({
      name, title: known ? known.title : name,
      words: known ? known.words : LAB_ANY_PROTOCOL.words,
    });
  }
  labUnsetProtocol = arq.default;
  LAB_VARIABLES.length = 0;
  LAB_VARIABLES.push(...rows.filter((row) => row !== arq && row.type !== 'file'));
  LAB_ORDER.length = 0;
  LAB_ORDER.push(...rows.map((row) => row.name));
}

/// The variable `name`'s row of the controls, or null.
function labVariable(name) {
  return LAB_VARIABLES.find((v) => v.name === name) || null;
}

/// True when protocol `name` reads variable `variable` (a row).
function labReads(variable, name) {
  return variable.readers.includes(name);
}

/// The eight link settings, [key, default text] in the settings file's
/// order, read from the example settings built into the page.
function labLinkSettings(text) {
  const settings = [];
  for (const line of text.split('\n')) {
    const match = /^(.*\S)\s+(\S+)\s*$/.exec(line);
    if (match) settings.push([match[1], match[2]]);
  }
  return settings;
}

/// The protocol named `name`, or null.
function labProtocol(name) {
  return LAB_PROTOCOLS.find((p) => p.name === name) || null;
}
