'use strict';
// What a scenario is made of, each said once: the protocols linksim-arq
// holds, with the words each uses for what its nodes do (those of the
// timeline study); the variables a run reads, with the protocols that read
// each, its kind, range, default and one line of help (as kit/environment.h
// and linksim-arq(1) give them); and the eight link settings, whose keys and
// defaults are those of examples/link.txt, built into the page. The controls,
// the address and "Copy as command" are all made from these tables.

/// linksim-arq's protocols, the first the one it runs when LINKSIM_ARQ is
/// unset; `words` name what the diagram's legend and labels show.
const LAB_PROTOCOLS = [
  {
    name: 'stop-and-wait', title: 'Stop-and-wait',
    words: {
      ack: 'ACK (of that frame)', timeout: 'timeout (that frame again)',
      discard: 'discarded (a duplicate)', buffer: 'buffered',
    },
  },
  {
    name: 'go-back-n', title: 'Go-Back-N',
    words: {
      ack: 'ACK (cumulative)', timeout: 'timeout (go back)',
      discard: 'discarded (a duplicate, or out of order)', buffer: 'buffered',
    },
  },
  {
    name: 'selective-repeat', title: 'Selective Repeat',
    words: {
      ack: 'ACK (of that frame alone)',
      timeout: 'timeout (that frame alone again)',
      discard: 'discarded (a duplicate)', buffer: 'buffered (kept for later)',
    },
  },
  {
    name: 'sliding-window', title: 'Sliding window',
    words: {
      ack: 'ACK (of that packet)', timeout: 'timeout', discard: 'discarded',
      buffer: 'buffered',
    },
  },
];

/// The words for a trace of a protocol the page does not know.
const LAB_ANY_PROTOCOL = {
  name: '', title: 'A trace',
  words: {
    ack: 'ACK', timeout: 'timeout', discard: 'discarded', buffer: 'buffered',
  },
};

const LAB_LOSSY = ['stop-and-wait', 'go-back-n', 'selective-repeat'];
const LAB_WINDOWED = ['go-back-n', 'selective-repeat', 'sliding-window'];

/// The variables a run reads, in the order the controls show them. `readBy`
/// lists the protocols that read one (any other warns that it ignores it);
/// `choices`, where given, are the values it takes; `shown` is the default
/// as the control shows it. The page never checks a value itself: the
/// program refuses a bad one with its own message.
const LAB_VARIABLES = [
  {
    name: 'LINKSIM_WINDOW', readBy: LAB_WINDOWED, range: '1 to 65536',
    shown: '8', help: 'frames in flight: the window',
  },
  {
    name: 'LINKSIM_LOSS', readBy: LAB_LOSSY, range: '0 \u2264 p < 1',
    shown: '0', help: 'each frame lost with this probability',
  },
  {
    name: 'LINKSIM_BER', readBy: LAB_LOSSY, range: '0 \u2264 b < 1',
    shown: 'unset', help: 'instead of a loss, a bit error rate',
  },
  {
    name: 'LINKSIM_BURST', readBy: LAB_LOSSY, range: 'from 1 up',
    shown: 'unset',
    help: 'mean run of lost frames, LINKSIM_LOSS the long-run loss',
  },
  {
    name: 'LINKSIM_SEED', readBy: LAB_LOSSY, range: '0 to 2^64 \u2212 1',
    shown: '1',
    help: 'the loss generator\'s seed (and Poisson arrivals\' draws)',
  },
  {
    name: 'LINKSIM_TIMEOUT', readBy: LAB_LOSSY, range: 'a number above 0',
    shown: 'derived', help: 'the retransmission timeout, in ticks',
  },
  {
    name: 'LINKSIM_SEQUENCE_BITS', readBy: LAB_LOSSY, range: '1 to 31',
    shown: '31', help: 'k: frames carry their packet\'s number modulo 2^k',
  },
  {
    name: 'LINKSIM_ARRIVALS', readBy: LAB_PROTOCOLS.map((p) => p.name),
    choices: ['periodic', 'poisson'], range: 'periodic or poisson',
    shown: 'periodic',
    help: 'packet k at k / rate, or gaps of mean 1 / rate',
  },
  {
    name: 'LINKSIM_DROP', readBy: [], range: 'e.g. data:3,7 ack:2',
    shown: 'none',
    help: 'frames to lose by their order on the link (click one); ' +
        'this build\'s protocols do not read it yet',
  },
];

/// The files every run of the page writes, named as its command names them.
const LAB_FILES = {trace: 'LINKSIM_TRACE', stats: 'LINKSIM_STATS'};

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
